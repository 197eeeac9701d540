#include "console.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

void say(const std::string& line) { write_output(line + "\n"); }

void say(const char* line) { say(std::string(line)); }

void say_part(const std::string& text) { write_output(text); }

void finish_answer(int code) {
  // Standard output is closed here, once, as careful tools close it: a
  // write that failed before, or the last flush failing now, shows.
  const bool failed_before = std::ferror(stdout) != 0;
  const bool written = std::fclose(stdout) == 0 && !failed_before;
  std::exit(code == 0 && !written ? 1 : code);
}
