// On Windows the platform's own names serve; chosen here are the RAS
// library's place, the library search of the whole process, how text
// reaches a console, and what an interrupt does while the exec command runs.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/tail.h"
#include "platform/platform.h"
#include "platform/startup-win32.h"

namespace {

// Set where the system lacks SetDefaultDllDirectories: the narrower search
// it stands for is then the process's DLL directory, which a command started
// from here would inherit; through this it is undone and set again.
typedef BOOL(WINAPI* SetDllDirectoryA_t)(LPCSTR);
SetDllDirectoryA_t narrowed_by_dll_directory = nullptr;

}  // namespace

FARPROC kernel32_function(LPCSTR name) {
  return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

void restrict_library_search(KernelLookup lookup) {
  // Whatever the process loads by name later, the RAS library's delay-loaded
  // imports among them, comes from the system folder alone: not from beside
  // the program, nor from the current folder, which may be a share that many
  // can write to. Windows 7 has the call only with its 2011 loader update.
  typedef BOOL(WINAPI * SetDefaultDllDirectories_t)(DWORD);
  auto set_default_directories =
      FunctionCast<SetDefaultDllDirectories_t>(lookup("SetDefaultDllDirectories"));
  narrowed_by_dll_directory = nullptr;
  if (!set_default_directories || !set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // Without it, at least the current folder leaves the search (the
    // program's own folder stays first).
    auto set_dll_directory = FunctionCast<SetDllDirectoryA_t>(lookup("SetDllDirectoryA"));
    if (set_dll_directory && set_dll_directory("")) narrowed_by_dll_directory = set_dll_directory;
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

namespace {

// Whether the word, quotes removed, is this very program's full path, as
// the loader and cmd.exe, which take a word such as "C:\VPN"-kit\quorvel.exe
// whole, would have found it: in any case, with or without ".exe".
bool names_this_program(const wchar_t* word, const wchar_t* end) {
  wchar_t path[MAX_PATH + 4], self[MAX_PATH];
  int self_length = static_cast<int>(GetModuleFileNameW(nullptr, self, MAX_PATH));
  if (end - word >= MAX_PATH || self_length == 0 || self_length >= MAX_PATH) return false;
  wchar_t* last = std::remove_copy(word, end, path, L'"');
  std::copy_n(L".exe", 4, last);
  int length = static_cast<int>(last - path);
  auto same = [&](int n) {
    return CompareStringOrdinal(path, n, self, self_length, TRUE) == CSTR_EQUAL;
  };
  return same(length) || same(length + 4);
}

}  // namespace

bool tail_in_code_page(const wchar_t* command_line, UINT code_page, std::string& tail) {
  // GetCommandLineA would map a character the code page lacks to a
  // look-alike: a fullwidth '-' to '-', an ideographic space to a blank, so
  // that a value could add options, or a password be sent altered. Only the
  // tail is converted: the program's name, which may be a folder of any name
  // (a user's), is no part of the options.
  const wchar_t* wide = skip_program_name(command_line, names_this_program);
  // UTF-8 has every character, takes neither the flag nor the report, and
  // refuses what is no character (an unpaired surrogate) only when asked.
  bool utf8 = code_page == CP_UTF8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL inexact = FALSE;
  BOOL* report = utf8 ? nullptr : &inexact;
  int size = WideCharToMultiByte(code_page, flags, wide, -1, nullptr, 0, nullptr, report);
  if (size <= 0 || inexact) return false;
  tail.resize(size);
  WideCharToMultiByte(code_page, flags, wide, -1, &tail[0], size, nullptr, nullptr);
  tail.resize(size - 1);
  return true;
}

namespace {

void write_bytes(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Writes the text to the console as the characters the ANSI code page
// means; what the console refuses of it is left in `rest`, as bytes.
bool write_characters(HANDLE console, const std::string& text, std::string& rest) {
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::vector<wchar_t> wide(size);
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  // A console may take fewer characters than it was given: the write goes
  // on from where it stopped.
  int done = 0;
  for (DWORD written = 0; done < size; done += static_cast<int>(written)) {
    if (!WriteConsoleW(console, wide.data() + done, size - done, &written, nullptr) || !written)
      break;
  }
  if (done == size) return true;
  int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data() + done, size - done, nullptr, 0,
                                  nullptr, nullptr);
  rest.resize(bytes);
  WideCharToMultiByte(CP_ACP, 0, wide.data() + done, size - done, &rest[0], bytes, nullptr,
                      nullptr);
  // Standard output, a text-mode stream, writes its own line end.
  if (rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "\r\n") == 0)
    rest.replace(rest.size() - 2, 2, "\n");
  return false;
}

}  // namespace

void write_output(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  // A file or a pipe: the bytes as they are, as every script has read them.
  if (!GetConsoleMode(output, &mode)) return write_bytes(text);
  // A console decodes bytes with its own (OEM) code page; the text is in the
  // ANSI one. Written as characters it reads right in every language,
  // without touching the console's code page, which outlives the run. A
  // line at a time (a line end is never part of a character), each line end
  // as a text-mode stream writes it; what the console refuses of a line
  // goes on as bytes, as to a file, so that nothing is lost.
  for (std::string::size_type start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start), rest;
    if (end < text.size()) line += "\r\n";
    if (!write_characters(output, line, rest)) write_bytes(rest);
  }
}

ConsoleParts console_parts = {GetTickCount, std::system, Sleep, ExitProcess};

namespace {

// Windows delivers Ctrl+C to each process of the console in a thread of its
// own, so the program may see a Ctrl+C given during the command only once
// the command, which saw it first, has ended: a second's grace covers that.
// Read by that thread, written by the main one.
std::atomic<bool> command_running{false};
std::atomic<bool> command_ran{false};
std::atomic<DWORD> command_ended{0};
std::atomic<void (*)()> last_wish{nullptr};
const DWORD grace_ms = 1000;
// The dial's cancel, and whether the request runs (dialing) and an event
// came meanwhile (cancelled): the handler's thread moves it only from
// dialing, so that the main thread, which ends it, never misses an event.
std::atomic<void (*)()> dial_cancel{nullptr};
const int not_dialing = 0, dialing = 1, cancelled = 2;
std::atomic<int> dial_state{not_dialing};
// When the last hang-up was requested, if one was.
std::atomic<bool> hang_up_made{false};
std::atomic<DWORD> hang_up_at{0};
const DWORD after_hang_up_ms = 3000;

// Ended by Windows, the run would end with 0xC000013A, a negative ERRORLEVEL
// that "if errorlevel 1" takes for success. A hang-up requested a moment
// ago is given its 3 s first, within the 5 s that Windows gives a closing
// console's handler.
void end_run() {
  if (hang_up_made) {
    DWORD since = console_parts.tick_count() - hang_up_at;
    if (since < after_hang_up_ms) console_parts.sleep(after_hang_up_ms - since);
  }
  console_parts.end(1);
}

}  // namespace

BOOL WINAPI console_event(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  // A log-off or a shutdown ends the program as Windows ends any other.
  if (!interrupt && event != CTRL_CLOSE_EVENT) return FALSE;
  // Ctrl+C and Ctrl+Break reach the command too, which acts on them as it
  // would anyway; the program only waits for it to end.
  if (interrupt && (command_running ||
                    (command_ran && console_parts.tick_count() - command_ended < grace_ms)))
    return TRUE;
  int state = dialing;
  if (dial_state.compare_exchange_strong(state, cancelled) || state == cancelled) {
    // The synchronous request knows no other way to stop: once the line it
    // has stored is hung up, it returns with an error.
    dial_cancel.load()();
    if (interrupt) return TRUE;
  } else if (!interrupt) {
    if (void (*wish)() = last_wish) wish();
  }
  end_run();
  return TRUE;
}

void at_console_close(void (*wish)()) { last_wish = wish; }

void hang_up_requested() {
  hang_up_at = console_parts.tick_count();
  hang_up_made = true;
}

bool cancel_dial_on_interrupt(void (*cancel)()) {
  if (!cancel) return dial_state.exchange(not_dialing) == cancelled;
  dial_cancel = cancel;
  dial_state = dialing;
  return false;
}

int run_command(const std::string& command) {
  // The handler, not SetConsoleCtrlHandler(NULL, TRUE), leaves Ctrl+C to
  // the command: that one the command would inherit, and Ctrl+C would no
  // longer reach it.
  command_running = true;
  if (narrowed_by_dll_directory) narrowed_by_dll_directory(nullptr);
  int result = console_parts.run(command.c_str());
  if (narrowed_by_dll_directory) narrowed_by_dll_directory("");
  command_ended = console_parts.tick_count();
  command_ran = true;
  command_running = false;
  return result;
}
