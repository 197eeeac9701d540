#include <gtest/gtest.h>

#include <string>

#include "cli/usage.h"

namespace {

TEST(Usage, IsExactToTheByte) {
  testing::internal::CaptureStdout();
  print_usage();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Usage:\n"
            "    quorvel -h : this help message                \n"
            "            -s : display status                   \n"
            "            -g : hangup after completion          \n"
            "            -k : kill active connections          \n"
            "            -V : display version infos and exit   \n"
            "\n"
            "      the followin' are for dialin':              \n"
            "            -e <remote access entry> (mandatory!!)\n"
            "            -n <phone number>                     \n"
            "            -u <user name>                        \n"
            "            -p <password>                         \n"
            "            -d <domain>                           \n"
            "            -b <callback number>                  \n"
            "            -c <exec command>                     \n"
            "\n"
            "NOTICE: the exec command must be the last parameter!!\n"
            "\n");
}

TEST(Usage, OptionLinesAreFiftyColumnsWide) {
  testing::internal::CaptureStdout();
  print_usage();
  std::string text = testing::internal::GetCapturedStdout();
  int lines = 0;
  for (std::string::size_type start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    ++lines;
    std::string line = text.substr(start, end - start);
    bool padded = (lines >= 2 && lines <= 6) || (lines >= 8 && lines <= 15);
    if (padded) {
      EXPECT_EQ(line.size(), 50u) << "line " << lines;
    }
  }
  EXPECT_EQ(lines, 18);
}

TEST(Version, LineCarriesTheVersionString) {
  EXPECT_EQ(std::string(version), "0.4");
  EXPECT_EQ(version_line(), "  Version: '0.4'");
}

}  // namespace
