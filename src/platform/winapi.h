// The few Windows names the program is written against. On Windows they are
// the system's own; elsewhere platform-posix.cpp stands in for them, so that
// the RAS code reads the same on every host.
#ifndef QUORVEL_PLATFORM_WINAPI_H
#define QUORVEL_PLATFORM_WINAPI_H

#include <cstdint>

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
// Where the system hands the program its command line, the program begins.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
#endif

// Entry points come back from GetProcAddress as one generic type; casting
// through void* keeps the compiler quiet about the change of signature.
template <typename T>
T FunctionCast(FARPROC function) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(function));
}

#endif
