// Windows start-up, declared here only so that the tests can reach it.
#ifndef QUORVEL_PLATFORM_STARTUP_WIN32_H
#define QUORVEL_PLATFORM_STARTUP_WIN32_H

#include <string>

#include "platform/winapi.h"

// The whole process loads libraries from the system folder alone; `lookup`
// gives kernel32's functions by name, or null for one that this Windows
// lacks.
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
// wish or the cancel. What it leans on is here, so that the tests can
// stand in for it.
struct ConsoleParts {
  DWORD(WINAPI* tick_count)();
  int (*run)(const char* command);
  void(WINAPI* sleep)(DWORD milliseconds);
  void(WINAPI* end)(UINT code);
};
extern ConsoleParts console_parts;
BOOL WINAPI console_event(DWORD event);

#endif
