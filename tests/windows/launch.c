/* Starts a program with a command line made to measure, so that the tests
   can hand quorvel.exe exactly the command line a user's shell might:
   launch.exe PROGRAM, with the command line in LAUNCH_COMMAND_LINE. The
   exit code is the program's. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  const char* line = getenv("LAUNCH_COMMAND_LINE");
  if (argc != 2 || !line) {
    fprintf(stderr, "usage: LAUNCH_COMMAND_LINE=... launch.exe PROGRAM\n");
    return 2;
  }
  char* command_line = _strdup(line);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  if (!command_line ||
      !CreateProcessA(argv[1], command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                      &process)) {
    fprintf(stderr, "launch.exe: cannot start %s (%lu)\n", argv[1], GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 2;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  free(command_line);
  return (int)code;
}
