#ifndef QUORVEL_CLI_TAIL_H
#define QUORVEL_CLI_TAIL_H

#include <string>

// Where the command-line tail begins: after the blanks and tabs before the
// program's name, the name and the blanks and tabs after it. The name runs,
// as Windows' C runtime reads it, to the first blank or tab outside double
// quotes, each quote opening or closing, so that a path quoted only in part,
// as batch files write "%ProgramFiles%"\tools\quorvel.exe, is the name
// whole. A closing quote directly followed by '-' ends it all the same, as
// it always has ("quorvel.exe"-s is the name and -s), unless the whole word
// is the program's own path (`names_program`, given the word with its
// quotes), as in "C:\Program Files\VPN"-kit\quorvel.exe. A line that begins
// with '-' has no name at all: a caller that gives the program apart may
// pass its options alone. For the system's narrow and wide command lines.
template <typename Char>
const Char* skip_program_name(const Char* p,
                              bool (*names_program)(const Char* word, const Char* end) = nullptr) {
  auto is_blank = [](Char c) { return c == ' ' || c == '\t'; };
  while (is_blank(*p)) ++p;
  if (*p == '-') return p;
  const Char* word = p;
  const Char* cut = nullptr;  // where a closing quote before '-' would end it
  for (bool quoted = false; *p && (quoted || !is_blank(*p)); ++p) {
    if (*p != '"') continue;
    if (quoted && p[1] == '-' && !cut) cut = p + 1;
    quoted = !quoted;
  }
  if (cut && !(names_program && names_program(word, p))) p = cut;
  while (is_blank(*p)) ++p;
  return p;
}

// The command-line tail: the whole command line less the program's name and
// the blanks and tabs around it.
std::string form_tail(const char* command_line,
                      bool (*names_program)(const char* word, const char* end) = nullptr);

// Where the system hands over an argument vector instead: the arguments
// after the program's name, joined by single blanks.
std::string join_arguments(int argc, char** argv);

#endif
