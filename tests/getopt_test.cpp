#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "cli/getopt.h"

namespace {

const char options[] = "h?sgkVe:n:u:p:d:b:B:c:";

using Results = std::vector<std::pair<int, std::string>>;

// Scans a whole tail the way the driver does: until -1 comes back.
Results scan(const std::string& tail) {
  Results results;
  for (int calls = 0; calls < 32; ++calls) {
    int option = cli::getopt(tail, options);
    results.emplace_back(option, cli::optarg);
    if (option == -1) break;
  }
  return results;
}

struct ScanCase {
  const char* tail;
  Results expected;
};

const ScanCase scan_cases[] = {
    {"", {{-1, ""}}},
    {"   ", {{-1, ""}}},
    {"foo bar", {{-1, ""}}},
    {"-s", {{'s', "s"}, {-1, ""}}},
    {"-sk", {{'s', "sk"}, {-1, ""}}},
    {"-s-k", {{'s', "s-k"}, {-1, ""}}},
    {"-s -k", {{'s', "s"}, {'k', "k"}, {-1, ""}}},
    {"-efoo", {{'e', "foo"}, {-1, ""}}},
    {"-e foo", {{'e', "foo"}, {-1, ""}}},
    {"-e    foo", {{'e', "foo"}, {-1, ""}}},
    {"-e foo bar -s", {{'e', "foo"}, {'s', "s"}, {-1, ""}}},
    {"-e foo-bar", {{'e', "foo-bar"}, {-1, ""}}},
    {"foo -s", {{'s', "s"}, {-1, ""}}},
    {"foo-s", {{'s', "s"}, {-1, ""}}},
    {"-e \"My Dial\"", {{'e', "\"My"}, {-1, ""}}},
    {"-e\tfoo", {{'e', "\tfoo"}, {-1, ""}}},
    {"-:", {{':', ":"}, {-1, ""}}},
    {"-e a -e b", {{'e', "a"}, {'e', "b"}, {-1, ""}}},
    {"-c notepad readme.txt", {{'c', "notepad"}, {-1, ""}}},
    {"-B x", {{'B', "x"}, {-1, ""}}},
    {"-", {{-1, ""}}},
    {"-s -", {{'s', "s"}, {-1, ""}}},
    {"-e \xff", {{'e', "\xff"}, {-1, ""}}},
};

TEST(Getopt, ScansEachTailAsTheDriverSeesIt) {
  for (const ScanCase& c : scan_cases) {
    EXPECT_EQ(scan(c.tail), c.expected) << "tail: '" << c.tail << "'";
    EXPECT_TRUE(cli::optarg.empty());
  }
}

TEST(Getopt, StartsANewScanAfterTheEnd) {
  EXPECT_EQ(scan("-s"), (Results{{'s', "s"}, {-1, ""}}));
  // The line handed over after -1 is the one scanned next.
  EXPECT_EQ(scan("-k"), (Results{{'k', "k"}, {-1, ""}}));
}

struct ReportCase {
  const char* tail;
  const char* report;  // the whole output, as a regular expression
};

const ReportCase report_cases[] = {
    {"-e", "^Argument expected for option '-e'!!\n\\('quorvel -h' for help\\.\\.\\.\\)\n\n$"},
    {"-e   ", "^Argument expected for option '-e'!!\n"},
    {"-e -s", "^Argument expected for option '-e'!!\n"},
    {"-e-s", "^Argument expected for option '-e'!!\n"},
    {"-s -b", "^Argument expected for option '-b'!!\n"},
    {"-x", "^Unknown or Invalid parameter '-x'!!\n\\('quorvel -h' for help\\.\\.\\.\\)\n\n$"},
    {"-E", "^Unknown or Invalid parameter '-E'!!\n"},
    {"--", "^Unknown or Invalid parameter '--'!!\n"},
    {"- s", "^Unknown or Invalid parameter '- '!!\n"},
    {"-e My Dial-Up", "^Unknown or Invalid parameter '-U'!!\n"},
};

TEST(GetoptDeathTest, ReportsAndEndsWithExitCodeOne) {
  for (const ReportCase& c : report_cases) {
    // The reports go to standard output; the child sends it to standard
    // error, where the death test reads it.
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          dup2(2, 1);
          scan(c.tail);
        },
        testing::ExitedWithCode(1), c.report)
        << "tail: '" << c.tail << "'";
  }
}

}  // namespace
