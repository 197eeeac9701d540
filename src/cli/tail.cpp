#include "cli/tail.h"

std::string form_tail(const char* command_line, bool (*names_program)(const char*, const char*)) {
  return skip_program_name(command_line ? command_line : "", names_program);
}

std::string join_arguments(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return tail;
}
