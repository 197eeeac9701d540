#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ras/ras.h"

// Every heap block is looked at as it is freed, while a test watches for a
// text: a copy of the password freed without being wiped shows here.
namespace {
const char* watched = nullptr;
std::size_t watched_size = 0;
bool freed_with_watched = false;
const std::size_t header = alignof(std::max_align_t);
}  // namespace

void* operator new(std::size_t size) {
  char* block = static_cast<char*>(std::malloc(size + header));
  if (!block) std::abort();
  std::memcpy(block, &size, sizeof size);
  return block + header;
}

namespace {
void release(void* memory) {
  if (!memory) return;
  char* block = static_cast<char*>(memory) - header;
  std::size_t size;
  std::memcpy(&size, block, sizeof size);
  char* data = block + header;
  if (watched && std::search(data, data + size, watched, watched + watched_size) != data + size)
    freed_with_watched = true;
  std::free(block);
}
}  // namespace

void operator delete(void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }

namespace {

TEST(DialExtensions, CarryTheFixedOptions) {
  RASDIALEXTENSIONS extensions = dial_extensions();
  // 16 bytes, or 24 on 64-bit Windows, where the window handle is wider.
  EXPECT_EQ(extensions.dwSize, sizeof(RASDIALEXTENSIONS));
  EXPECT_EQ(extensions.dwfOptions, 0x82Eu);
  EXPECT_FALSE(extensions.hwndParent);
  EXPECT_EQ(extensions.reserved, 0u);
}

// Whether the field holds exactly the text and nothing but zero bytes after it.
template <std::size_t N>
bool holds(const char (&field)[N], const std::string& text) {
  if (text.size() >= N || std::memcmp(field, text.data(), text.size()) != 0) return false;
  for (std::size_t i = text.size(); i < N; ++i)
    if (field[i] != '\0') return false;
  return true;
}

TEST(DialParams, SettingsAtTheirCapacityReachTheirFieldsWhole) {
  std::string entry(256, 'e'), phone(128, 'n'), user(256, 'u'), password(256, 'p'),
      domain(15, 'd'), callback(128, 'b');
  RASDIALPARAMSA params = dial_params(entry, phone, user, password, domain, callback);
  EXPECT_EQ(params.dwSize, 1052u);
  EXPECT_TRUE(holds(params.szEntryName, entry));
  EXPECT_TRUE(holds(params.szPhoneNumber, phone));
  EXPECT_TRUE(holds(params.szUserName, user));
  EXPECT_TRUE(holds(params.szPassword, password));
  EXPECT_TRUE(holds(params.szDomain, domain));
  EXPECT_TRUE(holds(params.szCallbackNumber, callback));
}

TEST(DialParams, AbsentSettingsLeaveTheirFieldsZero) {
  RASDIALPARAMSA params = dial_params("", "555 0100", "", "", "", "");
  EXPECT_TRUE(holds(params.szEntryName, ""));
  EXPECT_TRUE(holds(params.szPhoneNumber, "555 0100"));
  EXPECT_TRUE(holds(params.szUserName, ""));
  EXPECT_TRUE(holds(params.szPassword, ""));
  EXPECT_TRUE(holds(params.szDomain, ""));
  EXPECT_TRUE(holds(params.szCallbackNumber, ""));
}

TEST(Dial, WipesItsOwnCopyOfThePassword) {
  // The simulated service, with a state of this test's own, dials "office".
  static std::string setting = "RASSIM_STATE=" + testing::TempDir() + "quorvel-dial-test.state";
  putenv(&setting[0]);
  const std::string password = "a password no other string holds, 0123456789";
  watched = password.data();
  watched_size = password.size();
  HRASCONN connection = dial("office", "", "", password, "", "");
  watched = nullptr;
  std::remove(setting.substr(setting.find('=') + 1).c_str());
  EXPECT_TRUE(connection);
  EXPECT_FALSE(freed_with_watched);
}

TEST(DialParams, OverlongSettingsNeverRunPastTheirFields) {
  std::string huge(5000, 'x');
  RASDIALPARAMSA params = dial_params(huge, huge, huge, huge, huge, huge);
  EXPECT_EQ(params.dwSize, 1052u);
  EXPECT_EQ(std::strlen(params.szEntryName), 256u);
  EXPECT_EQ(std::strlen(params.szPhoneNumber), 128u);
  EXPECT_EQ(std::strlen(params.szCallbackNumber), 128u);
  EXPECT_EQ(std::strlen(params.szUserName), 256u);
  EXPECT_EQ(std::strlen(params.szPassword), 256u);
  EXPECT_EQ(std::strlen(params.szDomain), 15u);
}

struct LengthCase {
  int too_long;  // which setting gets one character more than it holds, or -1
  const char* report;
};

TEST(TooLongSetting, NamesTheFirstSettingThatDoesNotFit) {
  const std::size_t longest[] = {256, 128, 256, 256, 15, 128};
  const LengthCase cases[] = {
      {-1, ""},
      {0, "entry name is longer than 256 characters"},
      {1, "phone number is longer than 128 characters"},
      {2, "user name is longer than 256 characters"},
      {3, "password is longer than 256 characters"},
      {4, "domain is longer than 15 characters"},
      {5, "callback number is longer than 128 characters"},
  };
  for (const LengthCase& c : cases) {
    std::string s[6];
    for (int i = 0; i < 6; ++i) s[i] = std::string(longest[i] + (i == c.too_long), 'a');
    EXPECT_EQ(too_long_setting(s[0], s[1], s[2], s[3], s[4], s[5]), c.report);
  }
  // Two that do not fit: the earlier one in the order of the settings.
  std::string big(300, 'a');
  EXPECT_EQ(too_long_setting("", "", big, big, "", ""), "user name is longer than 256 characters");
}

}  // namespace
