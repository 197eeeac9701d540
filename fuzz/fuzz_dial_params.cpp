// Fills the dial records from six settings of any length and content: the
// input is cut into the settings at its zero bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "ras/ras.h"

namespace {

template <std::size_t N>
void check(const char (&field)[N], const std::string& setting) {
  const void* end = std::memchr(field, '\0', N);
  if (!end) __builtin_trap();
  std::size_t length = static_cast<const char*>(end) - field;
  // A setting that fits arrives whole; one that does not fit is refused by
  // the length check, and never runs past its field.
  if (setting.size() < N && setting.find('\0') == std::string::npos && length != setting.size())
    __builtin_trap();
  if (std::memcmp(field, setting.data(), length < setting.size() ? length : setting.size()) != 0)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string s[6];
  std::size_t i = 0;
  for (std::size_t at = 0; at < size; ++at) {
    if (data[at] == 0 && i < 5)
      ++i;
    else
      s[i] += static_cast<char>(data[at]);
  }
  RASDIALPARAMSA params = dial_params(s[0], s[1], s[2], s[3], s[4], s[5]);
  if (params.dwSize != sizeof params) __builtin_trap();
  check(params.szEntryName, s[0]);
  check(params.szPhoneNumber, s[1]);
  check(params.szUserName, s[2]);
  check(params.szPassword, s[3]);
  check(params.szDomain, s[4]);
  check(params.szCallbackNumber, s[5]);

  std::string refused = too_long_setting(s[0], s[1], s[2], s[3], s[4], s[5]);
  bool all_fit = s[0].size() <= 256 && s[1].size() <= 128 && s[2].size() <= 256 &&
                 s[3].size() <= 256 && s[4].size() <= 15 && s[5].size() <= 128;
  if (refused.empty() != all_fit) __builtin_trap();
  return 0;
}
