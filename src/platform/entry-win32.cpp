// Start-up on Windows: the tail is formed from the whole command line, so
// that the options reach the scanner exactly as they were typed.
#include <cstdlib>
#include <string>

#include "cli/tail.h"
#include "console.h"
#include "platform/platform.h"

int main() {
  restrict_library_search();
  std::string line;
  if (!command_line_in_ansi(line)) {
    // Nothing is scanned, echoed or dialed: the line is not what was typed.
    say("FATAL ERROR: a character of the command line is not in code page " +
        std::to_string(GetACP()) + "!!");
    std::exit(1);
  }
  std::string tail = form_tail(line.c_str());
  return WinMain(GetModuleHandleA(nullptr), nullptr, &tail[0], SW_SHOWDEFAULT);
}
