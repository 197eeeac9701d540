#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "cli/tail.h"

namespace {

struct TailCase {
  const char* command_line;
  const char* tail;
};

const TailCase tail_cases[] = {
    {"quorvel -s", "-s"},
    {"quorvel", ""},
    {"quorvel   ", ""},
    {"", ""},
    {" \t quorvel -s", "-s"},
    {"\"C:\\Program Files\\quorvel.exe\"   -s", "-s"},
    {"\"C:\\Program Files\\quorvel.exe\"-s", "-s"},
    // Unless that whole word is the program's path, quotes removed.
    {"\"C:\\Program Files\\VPN\"-kit\\quorvel.exe -s", "-s"},
    // A caller that gives the program apart may pass the options alone.
    {" -V", "-V"},
    // A path quoted in part, as batch files write one: a quote only opens or
    // closes, and the name runs to the first blank outside quotes.
    {"\"C:\\Program Files\"\\net-kit\\quorvel.exe -s", "-s"},
    {"C:\\\"Program Files\"\\vpn-scripts\\quorvel.exe\t-k", "-k"},
    {"\"quorvel.exe\"", ""},
    {"\"quorvel.exe\"  \t ", ""},
    {"\"C:\\no closing quote -s", ""},
    {"quorvel\t-s", "-s"},
    {"quorvel\t \t-e office -s", "-e office -s"},
    // The tail itself is left as it stands, inner and trailing blanks too.
    {"quorvel -e  office\t ", "-e  office\t "},
    {"quorvel.exe -e \"My Dial\"", "-e \"My Dial\""},
};

// The running program, as the system would name it.
bool names_vpn_kit(const char* word, const char* end) {
  std::string path;
  std::remove_copy(word, end, std::back_inserter(path), '"');
  return path == "C:\\Program Files\\VPN-kit\\quorvel.exe";
}

TEST(FormTail, CutsOffTheProgramsName) {
  for (const TailCase& c : tail_cases)
    EXPECT_EQ(form_tail(c.command_line, names_vpn_kit), c.tail) << "command line: '" << c.command_line << "'";
}

TEST(FormTail, TakesNoCommandLineAsEmpty) { EXPECT_EQ(form_tail(nullptr), ""); }

TEST(JoinArguments, JoinsTheArgumentsAfterTheNameWithSingleBlanks) {
  char name[] = "quorvel", e[] = "-e", office[] = "office", s[] = "-s";
  char* argv[] = {name, e, office, s, nullptr};
  EXPECT_EQ(join_arguments(4, argv), "-e office -s");
  EXPECT_EQ(join_arguments(1, argv), "");
}

}  // namespace
