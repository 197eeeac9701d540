// The texts by which the program presents itself.
#ifndef QUORVEL_CLI_USAGE_H
#define QUORVEL_CLI_USAGE_H

#include <string>

extern const char version[];

// "  Version: '0.4'", written for -V.
std::string version_line();

// Writes the usage text; the caller ends the process with its own code.
void print_usage();

#endif
