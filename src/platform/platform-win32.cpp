// On Windows the platform's own names serve; only the RAS library's place
// is chosen here.
#include <string>

#include "platform/platform.h"

HMODULE load_rasapi32() {
  // Loaded from the system's own folder, so that a planted RASAPI32.DLL
  // beside the program or earlier on the search path is never used.
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::string path(folder, length);
  path += "\\RASAPI32.DLL";
  return LoadLibraryA(path.c_str());
}
