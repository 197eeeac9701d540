// The option scanner: walks the command-line tail as one string, one option
// per call. Its names live in a namespace of their own so that they never
// meet the C library's getopt and optarg.
#ifndef QUORVEL_CLI_GETOPT_H
#define QUORVEL_CLI_GETOPT_H

#include <string>

namespace cli {

extern std::string optargs;
extern std::string optarg;
extern std::string::iterator it;

// The next option letter (as an unsigned byte value), or -1 when the line
// holds no further option. The option's text is left in optarg.
int getopt(std::string line, std::string options);

#ifdef QUORVEL_FUZZING
// Thrown instead of ending the process, in the fuzz build only, so that one
// process can scan line after line.
struct ScanReported {};
#endif

[[noreturn]] void opt_not_found(char letter);
[[noreturn]] void opt_missing(char letter);

}  // namespace cli

#endif
