// The platform seam: the few Windows names the program is written against.
// On Windows they are the system's own; elsewhere platform-posix.cpp stands
// in for them, so that the RAS code reads the same on every host.
#ifndef QUORVEL_PLATFORM_H
#define QUORVEL_PLATFORM_H

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#define RASAPI_CALL WINAPI
#else
typedef std::uint32_t DWORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef int (*FARPROC)();
// Inside the RAS records a window handle and a pointer-sized field take 32
// bits, as on 32-bit Windows.
typedef std::uint32_t HWND;
typedef std::uint32_t ULONG_PTR;
#define RASAPI_CALL
#define WINAPI

HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
void Sleep(DWORD milliseconds);
#endif

// Entry points come back from GetProcAddress as one generic type; casting
// through void* keeps the compiler quiet about the change of signature.
template <typename T>
T FunctionCast(FARPROC function) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(function));
}

// Loads the RAS library the way this platform should: from the system's own
// folder on Windows, from beside the executable elsewhere.
HMODULE load_rasapi32();

// Writes text to standard output at once. A console shows it as the
// characters the system's ANSI code page means; a file or a pipe gets the
// bytes unchanged.
void write_output(const std::string& text);

// Runs the exec command through the command interpreter and waits for it.
// An interrupt from the keyboard meanwhile is the command's alone: the run
// goes on once the command has ended.
int run_command(const std::string& command);

// From here to the end of the run, a console closed under it calls
// `last_wish` (the dialed connection's hang-up) before the process ends.
void at_console_close(void (*last_wish)());

// A hang-up was requested just now. The system asks that a process not end
// right after such a request, so that it is carried out: an interrupt or a
// closed console ends the run no sooner than 3 s after the last one.
void hang_up_requested();

// While the dial request runs, an interrupt or a closed console calls
// `cancel`, which hangs up what the request has stored so far. After an
// interrupt the run goes on, to end as a failed dial once the request has
// returned; a closed console ends it. Called with null when the request has
// returned: says whether such an event came meanwhile.
bool cancel_dial_on_interrupt(void (*cancel)());

#ifdef _WIN32
// Windows start-up. The whole process loads libraries from the system folder
// alone; `lookup` gives kernel32's functions by name, or null for one that
// this Windows lacks.
typedef FARPROC (*KernelLookup)(LPCSTR name);
FARPROC kernel32_function(LPCSTR name);
void restrict_library_search(KernelLookup lookup);
// The tail of the command line in the code page; false when a character of
// the tail has no exact equivalent there, or is no character at all.
bool tail_in_code_page(const wchar_t* command_line, UINT code_page, std::string& tail);
// The console's control events, answered from start-up to the end of the
// run: Ctrl+C and Ctrl+Break during the exec command, and for a second
// after it, are the command's; during the dial they cancel it; otherwise
// they end the run with 1, and so does a closed console, after the last
// wish or the cancel. What it leans on is here, so
// that the tests can stand in for it.
struct ConsoleParts {
  DWORD(WINAPI* tick_count)();
  int (*run)(const char* command);
  void(WINAPI* sleep)(DWORD milliseconds);
  void(WINAPI* end)(UINT code);
};
extern ConsoleParts console_parts;
BOOL WINAPI console_event(DWORD event);
#else
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
#endif

#endif
