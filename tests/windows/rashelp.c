/* A helper DLL of a RAS library: the "imports" variant of the simulated
   service imports rashelp.dll at load time and loads raslater.dll by name
   later, as the system's RASAPI32.DLL imports DLLs of its own. Built with PLANTED,
   the copy planted beside the program says on standard error that it was
   loaded, which no scenario allows. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
#ifdef PLANTED
  if (reason == DLL_PROCESS_ATTACH) {
    static const char said[] = "a planted DLL beside the program was loaded\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), said, sizeof said - 1, &written, NULL);
  }
#else
  (void)reason;
#endif
  return TRUE;
}

/* HELPER is the DLL's name, and the name of the one function it exports. */
__declspec(dllexport) int HELPER(void) { return 1; }
