#ifndef QUORVEL_CLI_TAIL_H
#define QUORVEL_CLI_TAIL_H

#include <string>

// Where the command-line tail begins: after the blanks and tabs before the
// program's name, the name and the blanks and tabs after it. The name runs,
// as Windows' C runtime reads it, to the first blank or tab outside double
// quotes, each quote opening or closing, so that a path quoted only in part,
// as batch files write "%ProgramFiles%"\tools\quorvel.exe, is the name
// whole. A closing quote directly followed by '-' ends it all the same, as
// it always has: "quorvel.exe"-s is the name and -s. For the system's narrow
// and wide command lines alike.
template <typename Char>
const Char* skip_program_name(const Char* p) {
  auto is_blank = [](Char c) { return c == ' ' || c == '\t'; };
  while (is_blank(*p)) ++p;
  for (bool quoted = false; *p && (quoted || !is_blank(*p)); ++p) {
    if (*p != '"') continue;
    if (quoted && p[1] == '-') {
      ++p;
      break;
    }
    quoted = !quoted;
  }
  while (is_blank(*p)) ++p;
  return p;
}

// The command-line tail: the whole command line less the program's name and
// the blanks and tabs around it.
std::string form_tail(const char* command_line);

// Where the system hands over an argument vector instead: the arguments
// after the program's name, joined by single blanks.
std::string join_arguments(int argc, char** argv);

#endif
