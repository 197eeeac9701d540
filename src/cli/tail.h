#ifndef QUORVEL_CLI_TAIL_H
#define QUORVEL_CLI_TAIL_H

#include <string>

// Where the command-line tail begins: after the blanks and tabs before the
// program's name, the name (up to a closing quote when it starts with one,
// else up to a blank or tab) and the blanks and tabs after it. For the
// system's narrow and wide command lines alike.
template <typename Char>
const Char* skip_program_name(const Char* p) {
  auto is_blank = [](Char c) { return c == ' ' || c == '\t'; };
  while (is_blank(*p)) ++p;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && !is_blank(*p)) ++p;
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
