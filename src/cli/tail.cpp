#include "cli/tail.h"

std::string form_tail(const char* command_line) {
  return skip_program_name(command_line ? command_line : "");
}

std::string join_arguments(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return tail;
}
