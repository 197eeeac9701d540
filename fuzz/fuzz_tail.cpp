// Forms the tail of an arbitrary command line.
#include <cstdint>
#include <cstring>
#include <string>

#include "cli/tail.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  std::string tail = form_tail(line.c_str());
  // The tail is what is left of the line: its end, never more.
  if (tail.size() > line.size()) __builtin_trap();
  if (line.compare(line.size() - tail.size(), tail.size(), tail) != 0) __builtin_trap();
  if (!tail.empty() && (tail[0] == ' ' || tail[0] == '\t')) __builtin_trap();
  return 0;
}
