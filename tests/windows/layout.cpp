// The layout probe: makes the calls quorvel.exe makes, with exactly the
// records it passes, against the machine's own RASAPI32.DLL, and prints what
// each returns. With no connection up a run of quorvel.exe prints the same
// whether or not the system accepts its records; a record of a size the
// system does not know shows here as ERROR_INVALID_SIZE (632).
//
// layout.exe -i runs a command that waits (layout.exe -w: 4 seconds, deaf
// to Ctrl+C and Ctrl+Break, as some commands are) as quorvel.exe runs its
// exec command, then says that it goes on: where no connection can be
// dialed, this shows what an interrupt during the command does to the
// program.
//
// layout.exe -k makes -k's sizing call in both forms, with a record of byte
// size 0 as the program asks first and without one as Windows documents it,
// and prints each answer whole: result, byte size and count.
//
// layout.exe -u makes the same calls with the library loaded as a program
// without quorvel.exe's care would load it: by name, from wherever the
// default search finds it first, and says from where. The planting
// scenarios run it first, beside their plants: where it loads none of them,
// they could show nothing.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/startup-win32.h"
#include "ras/ras.h"

namespace {

BOOL WINAPI ignore_interrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "-w") == 0) {
    SetConsoleCtrlHandler(ignore_interrupt, TRUE);
    std::printf("The command waits.\n");
    std::fflush(stdout);
    Sleep(4000);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "-i") == 0) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    SetConsoleCtrlHandler(console_event, TRUE);
    run_command(std::string("\"") + self + "\" -w");
    std::printf("The command has ended; the run goes on.\n");
    return 0;
  }
  const bool unprotected = argc == 2 && std::strcmp(argv[1], "-u") == 0;
  HMODULE library = unprotected ? LoadLibraryA("RASAPI32.DLL") : load_rasapi32();
  if (!library) {
    std::printf("RASAPI32.DLL cannot be loaded: %lu\n", GetLastError());
    return 1;
  }
  if (unprotected) {
    char path[MAX_PATH];
    GetModuleFileNameA(library, path, MAX_PATH);
    std::printf("RASAPI32.DLL from %s\n", path);
  }
  auto enumerate = find_entry<RasEnumConnectionsA_t>(library, "RasEnumConnectionsA");
  auto get_status = find_entry<RasGetConnectStatusA_t>(library, "RasGetConnectStatusA");
  auto hang_up = find_entry<RasHangUpA_t>(library, "RasHangUpA");
  auto ras_dial = find_entry<RasDialA_t>(library, "RasDialA");
  if (!enumerate || !get_status || !hang_up || !ras_dial) {
    std::printf("RASAPI32.DLL lacks an entry point\n");
    return 1;
  }

  if (argc == 2 && std::strcmp(argv[1], "-k") == 0) {
    RASCONNA one{};
    one.dwSize = sizeof one;
    for (LPRASCONNA record : {&one, LPRASCONNA{}}) {
      DWORD bytes = 0, count = 0, result = enumerate(record, &bytes, &count);
      std::printf("RasEnumConnectionsA, sizing call %s: %lu, bytes %lu, count %lu\n",
                  record ? "with a record" : "without one", static_cast<unsigned long>(result),
                  static_cast<unsigned long>(bytes), static_cast<unsigned long>(count));
    }
    FreeLibrary(library);
    return 0;
  }

  // The status query's enumeration, then hangup_all's sizing call.
  const struct {
    const char* call;
    DWORD bytes, count;
  } enumerations[] = {{"one record", sizeof(RASCONNA), 1}, {"sizing call", 0, 0}};
  for (const auto& e : enumerations) {
    RASCONNA one{};
    one.dwSize = sizeof one;
    DWORD bytes = e.bytes, count = e.count;
    DWORD result = enumerate(&one, &bytes, &count);
    std::printf("RasEnumConnectionsA, %s: %lu, count %lu\n", e.call,
                static_cast<unsigned long>(result), static_cast<unsigned long>(count));
  }

  RASCONNSTATUSA status{};
  status.dwSize = sizeof status;
  std::printf("RasGetConnectStatusA, a stale handle: %lu\n",
              static_cast<unsigned long>(get_status((HRASCONN)(ULONG_PTR)0x4711, &status)));

  RASDIALPARAMSA params = dial_params("quorvel-layout-probe", "", "", "", "", "");
  RASDIALEXTENSIONS extensions = dial_extensions();
  HRASCONN connection{};
  DWORD result = ras_dial(&extensions, nullptr, &params, 1, nullptr, &connection);
  std::printf("RasDialA, an entry no phone book has: %lu\n", static_cast<unsigned long>(result));
  // Whatever the failed request left is released.
  if (connection) hang_up(connection);
  FreeLibrary(library);
  return 0;
}
