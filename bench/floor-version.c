/* The floor for quorvel -V: a minimal C program that writes the same lines,
   each flushed as the program flushes them. */
#include <stdio.h>

static void say(const char* line) {
  fputs(line, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

int main(void) {
  say("");
  say("quorvel v0.4");
  say("");
  say("  Version: '0.4'");
  return 0;
}
