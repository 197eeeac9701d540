// Start-up on Windows: the tail is formed from the whole command line, so
// that the options reach the scanner exactly as they were typed.
#include <cstdlib>
#include <string>

#include "console.h"
#include "platform/platform.h"
#include "platform/startup-win32.h"

int main() {
  restrict_library_search(kernel32_function);
  SetConsoleCtrlHandler(console_event, TRUE);
  std::string tail;
  if (!tail_in_code_page(GetCommandLineW(), GetACP(), tail)) {
    // Nothing is scanned, echoed or dialed: the tail is not what was typed.
    say("FATAL ERROR: a character of the command line is not in code page " +
        std::to_string(GetACP()) + "!!");
    std::exit(1);
  }
  return WinMain(GetModuleHandleA(nullptr), nullptr, &tail[0], SW_SHOWDEFAULT);
}
