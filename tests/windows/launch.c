/* Starts a program with a command line made to measure, so that the tests
   can hand quorvel.exe exactly the command line a user's shell might:
   launch.exe PROGRAM, with the command line in LAUNCH_COMMAND_LINE. The line
   and the program's path are read and passed on as UTF-16, as Windows hands
   them over, so that no character is changed on the way. The exit code is
   the program's.

   LAUNCH_CONSOLE=1: the program runs in a console of its own, with no
   window, whose screen is then written to standard output, line by line,
   as UTF-8. The launcher starts a copy of itself in that console
   (LAUNCH_CONSOLE=2), which outlives the program, so that the screen can
   still be read once the program has ended.
   LAUNCH_INTERRUPT=1: the program runs in a process group of its own; a
   line on standard input sends that group CTRL_BREAK_EVENT.
   LAUNCH_NO_OUTPUT=1: the program gets no standard output, as from a
   service or a GUI parent that redirects only some streams. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static DWORD program_id;

static wchar_t setting(const wchar_t* name) {
  wchar_t value[2];
  return GetEnvironmentVariableW(name, value, 2) == 1 ? value[0] : 0;
}

static DWORD WINAPI interrupt_on_input(LPVOID unused) {
  char line[16];
  DWORD read;
  (void)unused;
  if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, NULL) && read)
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, program_id);
  return 0;
}

static HANDLE open_device(const wchar_t* name, SECURITY_ATTRIBUTES* inherit) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     inherit, OPEN_EXISTING, 0, NULL);
}

/* The screen's lines up to the cursor, without their trailing blanks. */
static void write_screen(HANDLE out) {
  HANDLE screen = open_device(L"CONOUT$", NULL);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return;
  wchar_t* row = malloc(sizeof(wchar_t) * info.dwSize.X);
  char* text = malloc(4 * info.dwSize.X + 1);
  /* The row of the cursor only when something stands on it. */
  SHORT rows = info.dwCursorPosition.Y + (info.dwCursorPosition.X > 0);
  for (SHORT y = 0; row && text && y < rows; ++y) {
    COORD at = {0, y};
    DWORD length = 0, written;
    ReadConsoleOutputCharacterW(screen, row, info.dwSize.X, at, &length);
    while (length > 0 && row[length - 1] == L' ') --length;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, row, (int)length, text, 4 * info.dwSize.X,
                                    NULL, NULL);
    text[bytes] = '\n';
    WriteFile(out, text, bytes + 1, &written, NULL);
  }
  free(row);
  free(text);
}

int wmain(int argc, wchar_t** argv) {
  DWORD size = GetEnvironmentVariableW(L"LAUNCH_COMMAND_LINE", NULL, 0);
  wchar_t* line = size ? malloc(sizeof(wchar_t) * size) : NULL;
  if (argc != 2 || !line || GetEnvironmentVariableW(L"LAUNCH_COMMAND_LINE", line, size) >= size) {
    fprintf(stderr, "usage: LAUNCH_COMMAND_LINE=... launch.exe PROGRAM\n");
    return 2;
  }
  wchar_t* program = argv[1];
  wchar_t console = setting(L"LAUNCH_CONSOLE");
  int interrupt = setting(L"LAUNCH_INTERRUPT") == L'1';
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (console == L'1') {
    static wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    SetEnvironmentVariableW(L"LAUNCH_CONSOLE", L"2");
    program = self;
    line = GetCommandLineW();
  } else if (console == L'2') {
    /* The program writes to this console, not to the launcher's pipe; lines
       wide enough for any it writes, so that none wraps. */
    COORD size = {512, 256};
    startup.hStdInput = open_device(L"CONIN$", &inherit);
    startup.hStdOutput = startup.hStdError = open_device(L"CONOUT$", &inherit);
    SetConsoleScreenBufferSize(startup.hStdOutput, size);
  }
  if (setting(L"LAUNCH_NO_OUTPUT") == L'1') startup.hStdOutput = NULL;
  if (interrupt) {
    /* The standard input is the launcher's signal, not the program's; a
       group's control events need a console that the launcher shares. */
    startup.hStdInput = open_device(L"NUL", &inherit);
    AllocConsole();
  }
  DWORD flags = (interrupt ? CREATE_NEW_PROCESS_GROUP : 0) |
                (console == L'1' ? CREATE_NO_WINDOW : 0);
  if (!CreateProcessW(program, line, NULL, NULL, TRUE, flags, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "launch.exe: cannot start %ls (%lu)\n", program, GetLastError());
    return 2;
  }
  program_id = process.dwProcessId;
  if (interrupt) CloseHandle(CreateThread(NULL, 0, interrupt_on_input, NULL, 0, NULL));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 2;
  GetExitCodeProcess(process.hProcess, &code);
  if (console == L'2') write_screen(out);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return (int)code;
}
