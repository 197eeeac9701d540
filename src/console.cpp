#include "console.h"

#include "platform/platform.h"

void say(const std::string& line) { write_output(line + "\n"); }

void say(const char* line) { say(std::string(line)); }

void say_part(const std::string& text) { write_output(text); }
