// On Windows the platform's own names serve; chosen here are the RAS
// library's place, the library search of the whole process, how text
// reaches a console, and what an interrupt does while the exec command runs.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// Set where the system lacks SetDefaultDllDirectories: the narrower search
// it stands for is then the process's DLL directory, which a command started
// from here would inherit.
bool narrowed_by_dll_directory = false;

}  // namespace

void restrict_library_search() {
  // Whatever the process loads by name later, the RAS library's delay-loaded
  // imports among them, comes from the system folder alone: not from beside
  // the program, nor from the current folder, which may be a share that many
  // can write to. Windows 7 has the call only with its 2011 loader update.
  typedef BOOL(WINAPI * SetDefaultDllDirectories_t)(DWORD);
  auto set_default_directories = FunctionCast<SetDefaultDllDirectories_t>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"));
  if (!set_default_directories || !set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // Without it, at least the current folder leaves the search.
    SetDllDirectoryA("");
    narrowed_by_dll_directory = true;
  }
  SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

HMODULE load_rasapi32() {
  // Loaded from the system's own folder, so that a planted RASAPI32.DLL
  // beside the program or earlier on the search path is never used; the
  // altered search makes its own imports come from that folder too, on
  // every Windows.
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::string path(folder, length);
  path += "\\RASAPI32.DLL";
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool command_line_in_ansi(std::string& line) {
  // GetCommandLineA would map a character the ANSI code page lacks to a
  // look-alike: a fullwidth '-' to '-', an ideographic space to a blank,
  // so that a value could add options, or a password be sent altered.
  const wchar_t* wide = GetCommandLineW();
  UINT code_page = GetACP();
  // UTF-8 has every character, and takes neither the flag nor the report.
  bool utf8 = code_page == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL inexact = FALSE;
  BOOL* report = utf8 ? nullptr : &inexact;
  int size = WideCharToMultiByte(code_page, flags, wide, -1, nullptr, 0, nullptr, report);
  if (size <= 0 || inexact) return false;
  line.resize(size);
  WideCharToMultiByte(code_page, flags, wide, -1, &line[0], size, nullptr, nullptr);
  line.resize(size - 1);
  return true;
}

void write_output(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (!GetConsoleMode(output, &mode)) {
    // A file or a pipe: the bytes as they are, as every script has read them.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return;
  }
  // A console decodes bytes with its own (OEM) code page; the text is in the
  // ANSI one. Written as characters it reads right in every language,
  // without touching the console's code page, which outlives the run.
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::vector<wchar_t> wide(size);
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  // Each line end as a text-mode stream writes it.
  DWORD written;
  for (int start = 0, end; start < size; start = end + 1) {
    for (end = start; end < size && wide[end] != L'\n';) ++end;
    WriteConsoleW(output, wide.data() + start, end - start, &written, nullptr);
    if (end < size) WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
  }
}

namespace {

// Windows delivers Ctrl+C to each process of the console in a thread of its
// own, so the program may see a Ctrl+C given during the command only once
// the command, which saw it first, has ended: a second's grace covers that.
// Read by that thread, written by the main one.
volatile bool command_running = false;
volatile DWORD command_ended = 0;
const DWORD grace_ms = 1000;

// Ctrl+C and Ctrl+Break reach the command too, which acts on them as it
// would anyway; the program only waits for it to end. Later ones end the
// program as at any other time, as do a closed console, a log-off and a
// shutdown, which no handler may keep from ending it.
BOOL WINAPI leave_to_command(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return command_running || GetTickCount() - command_ended < grace_ms;
}

}  // namespace

int run_command(const std::string& command) {
  // A handler, not SetConsoleCtrlHandler(NULL, TRUE): that one the command
  // would inherit, and Ctrl+C would no longer reach it. It stays for the
  // rest of the run, answering as the time asks.
  command_running = true;
  SetConsoleCtrlHandler(leave_to_command, TRUE);
  if (narrowed_by_dll_directory) SetDllDirectoryA(nullptr);
  int result = std::system(command.c_str());
  if (narrowed_by_dll_directory) SetDllDirectoryA("");
  command_ended = GetTickCount();
  command_running = false;
  return result;
}
