// Start-up on Windows: the tail is formed from the whole command line, so
// that the options reach the scanner exactly as they were typed.
#include <string>

#include "cli/tail.h"
#include "platform/platform.h"

int main() {
  std::string tail = form_tail(GetCommandLineA());
  return WinMain(GetModuleHandleA(nullptr), nullptr, &tail[0], SW_SHOWDEFAULT);
}
