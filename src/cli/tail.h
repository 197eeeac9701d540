#ifndef QUORVEL_CLI_TAIL_H
#define QUORVEL_CLI_TAIL_H

#include <string>

// The command-line tail: the whole command line less the program's name and
// the blanks and tabs around it.
std::string form_tail(const char* command_line);

// Where the system hands over an argument vector instead: the arguments
// after the program's name, joined by single blanks.
std::string join_arguments(int argc, char** argv);

#endif
