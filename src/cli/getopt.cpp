#include "cli/getopt.h"

#include <cstdlib>
#include <utility>

#include "console.h"

namespace cli {

std::string optargs;
std::string optarg;
std::string::iterator it;

namespace {

[[noreturn]] void report(const char* what, char letter) {
  say(std::string(what) + letter + "'!!");
  say("('quorvel -h' for help...)");
  say("");
#ifdef QUORVEL_FUZZING
  throw ScanReported();
#else
  std::exit(1);
#endif
}

// Takes the text from the cursor to the next blank or the end of the line.
void take_word() {
  auto start = it;
  while (it != optargs.end() && *it != ' ') ++it;
  optarg.assign(start, it);
}

}  // namespace

void opt_not_found(char letter) {
  report("Unknown or Invalid parameter '-", letter);
}

void opt_missing(char letter) {
  report("Argument expected for option '-", letter);
}

int getopt(std::string line, std::string options) {
  // An empty optarg means the last call ended a scan (or none ran yet).
  if (optarg.empty()) {
    optargs = std::move(line);
    it = optargs.begin();
  }
  optarg.clear();

  while (it != optargs.end() && *it != '-') ++it;
  if (it == optargs.end()) return -1;
  ++it;
  // A '-' at the very end has no letter: the line simply ends there.
  if (it == optargs.end()) return -1;

  char letter = *it;
  std::string::size_type at = options.find(letter);
  if (at == std::string::npos) opt_not_found(letter);

  bool takes_argument = at + 1 < options.size() && options[at + 1] == ':';
  if (takes_argument) {
    ++it;
    while (it != optargs.end() && *it == ' ') ++it;
    if (it == optargs.end() || *it == '-') opt_missing(letter);
  }
  take_word();
  return static_cast<unsigned char>(letter);
}

}  // namespace cli
