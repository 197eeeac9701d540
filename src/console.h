// Console output: every message is one line on standard output, flushed at
// once, so that lines keep their order with whatever a child process writes.
#ifndef QUORVEL_CONSOLE_H
#define QUORVEL_CONSOLE_H

#include <string>

// Writes the text and a line end, then flushes.
void say(const std::string& line);
void say(const char* line);

// Writes the text with no line end (the progress dots of the hang-up wait).
void say_part(const std::string& text);

// Ends the run with `code`, or with 1 where it would end with 0 but its
// output could not all be written: for -s that line is the whole answer.
[[noreturn]] void finish(int code);

#endif
