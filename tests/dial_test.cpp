#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ras/ras.h"

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
