// Scans an arbitrary tail to its end, the way the driver does.
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/getopt.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The scanner's reports would flood the fuzzer's own output.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The tail reaches the program as a zero-terminated string.
  std::string tail(reinterpret_cast<const char*>(data), size);
  tail = tail.c_str();
  try {
    for (int option; (option = cli::getopt(tail, "h?sgkVe:n:u:p:d:b:B:c:")) != -1;) {
      // After every option its text is there, at least the letter itself.
      if (cli::optarg.empty()) __builtin_trap();
      if (option < 0 || option > 255) __builtin_trap();
    }
  } catch (const cli::ScanReported&) {
    // A report leaves optarg empty, so the next line starts a scan afresh.
  }
  if (!cli::optarg.empty()) __builtin_trap();
  return 0;
}
