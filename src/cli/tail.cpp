#include "cli/tail.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string form_tail(const char* command_line) {
  const char* p = command_line ? command_line : "";
  while (is_blank(*p)) ++p;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && !is_blank(*p)) ++p;
  }
  while (is_blank(*p)) ++p;
  return p;
}

std::string join_arguments(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return tail;
}
