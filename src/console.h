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

// Ends a run whose output is its answer (-s, -V, -h) with `code`, or with 1
// where it would end with 0 but that output could not all be written. A run
// that acts (a dial, -g, -k) ends with the code of what it did, whatever
// became of its log.
[[noreturn]] void finish_answer(int code);

#endif
