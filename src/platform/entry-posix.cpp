// Start-up where the system hands over an argument vector: the tail is the
// arguments after the program's name, joined by single blanks.
#include <string>

#include "cli/tail.h"
#include "platform/winapi.h"

int main(int argc, char** argv) {
  std::string tail = join_arguments(argc, argv);
  return WinMain(nullptr, nullptr, &tail[0], 0);
}
