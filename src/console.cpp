#include "console.h"

#include "platform/platform.h"

void say(const std::string& line) { write_output(line + "\n"); }

void say_part(const std::string& text) { write_output(text); }
