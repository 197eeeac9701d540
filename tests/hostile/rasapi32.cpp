// A hostile RAS library for the tests: it answers as no sound library would,
// in the way RASSIM_HOSTILE names, so that the tests can see the program
// stay within its buffers, end every wait and report every failure.
//
//   counts        claims far more connections than the buffer it was given
//   unfilled      counts two connections, then fills in neither
//   unterminated  fills every text it gives back with no terminating zero
//   states        reports a connection state that does not exist
//   codes         answers with error codes outside the RAS range
//   emptytext     fails a dial, then gives an empty error text for it
//   nullhandle    reports a successful dial without a connection handle
//   growing       counts more connections at every call, never filling any
//   vanish        on hang-up leaves the line up and moves the program away
//                 from this library (Linux), so that the wait's next load
//                 finds no library: a loaded library cannot be loaded anew
//                 by the same name, so moving this one would not do
//   refused       refuses every hang-up (5, access denied), so that the line
//                 stays up, and fails a dial of "busy" with 676 and a handle
//   unlisted      counts one connection, then fails to list it with 5
//   denied        refuses every listing with 5, the sizing call's too
//   uncounted     answers a sizing call with 603 and the byte size, but
//                 leaves the count at 0, as it wrote no record
//   documented    takes a sizing call only as documented, without a record:
//                 one with a record of byte size 0 is refused with 632
//
// Its one connection has the handle 0x77 until it is hung up; the hang-up
// is remembered in a file beside RASSIM_STATE, so that later processes see
// the line gone. Like the simulated service it keeps a ledger (its loads,
// releases and enumerations) when RASSIM_LEDGER names a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ledger.h"
#include "ras/rasapi.h"

#ifdef _WIN32
#define HOSTILE_EXPORT extern "C" __declspec(dllexport)
#else
#define HOSTILE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// A C cast, as the handle is a pointer on Windows and a number elsewhere.
const HRASCONN line = (HRASCONN)(std::uintptr_t)0x77;
const DWORD access_denied = 5;

bool mode(const char* name) {
  const char* chosen = std::getenv("RASSIM_HOSTILE");
  return chosen && std::strcmp(chosen, name) == 0;
}

std::string hung_up_file() {
  const char* state = std::getenv("RASSIM_STATE");
  return std::string(state ? state : "hostile") + ".hungup";
}

bool line_is_up() {
  std::FILE* f = std::fopen(hung_up_file().c_str(), "rb");
  if (f) std::fclose(f);
  return !f;
}

template <std::size_t N>
void fill_unterminated(char (&field)[N]) {
  std::memset(field, 'X', N);
}

DWORD enumerate(LPRASCONNA records, LPDWORD bytes, LPDWORD count) {
  static DWORD calls = 0;
  if (mode("codes")) return 0xC0000005u;
  if (mode("denied")) return access_denied;
  if (mode("growing")) {
    *count = ++calls * 10;
    *bytes = *count * sizeof(RASCONNA);
    return ERROR_BUFFER_TOO_SMALL;
  }
  DWORD room = records ? *bytes / sizeof(RASCONNA) : 0;
  if (mode("counts") || mode("unfilled")) {
    if (room < 2) {
      *bytes = 2 * sizeof(RASCONNA);
      *count = 2;
      return ERROR_BUFFER_TOO_SMALL;
    }
    if (mode("counts")) {
      records[0].hrasconn = line_is_up() ? line : HRASCONN{};
      *count = 100000;
    }
    return 0;
  }
  if (mode("documented") && records && room < 1) return ERROR_INVALID_SIZE;
  if (room < 1) {
    *bytes = sizeof(RASCONNA);
    if (!mode("uncounted")) *count = 1;
    return ERROR_BUFFER_TOO_SMALL;
  }
  if (mode("unlisted")) return access_denied;
  records[0].hrasconn = line;
  if (mode("unterminated")) {
    fill_unterminated(records[0].szEntryName);
    fill_unterminated(records[0].szDeviceType);
    fill_unterminated(records[0].szDeviceName);
  }
  *count = 1;
  return 0;
}

}  // namespace

HOSTILE_EXPORT DWORD RASAPI_CALL RasEnumConnectionsA(LPRASCONNA records, LPDWORD bytes,
                                                     LPDWORD count) {
  const std::string call = "RasEnumConnectionsA " + enumeration(records, bytes, count);
  const DWORD result = enumerate(records, bytes, count);
  note(call + " -> " + std::to_string(result) + " " + counts(bytes, count));
  return result;
}

HOSTILE_EXPORT DWORD RASAPI_CALL RasGetConnectStatusA(HRASCONN connection,
                                                      LPRASCONNSTATUSA status) {
  if (mode("codes")) return 0x7FFFFFFFu;
  if (connection != line || !line_is_up()) return ERROR_INVALID_HANDLE;
  status->rasconnstate = mode("states") ? 0xDEADBEEFu : RASCS_Connected;
  if (mode("unterminated")) {
    fill_unterminated(status->szDeviceType);
    fill_unterminated(status->szDeviceName);
  }
  return 0;
}

HOSTILE_EXPORT DWORD RASAPI_CALL RasHangUpA(HRASCONN connection) {
  if (connection != line) return ERROR_INVALID_HANDLE;
  if (mode("refused")) return access_denied;
#ifndef _WIN32
  if (mode("vanish")) {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return 0;
    const std::string program(path, static_cast<std::size_t>(length));
    const std::string moved = program.substr(0, program.rfind('/')) + "/moved";
    mkdir(moved.c_str(), 0700);
    std::rename(program.c_str(), (moved + program.substr(program.rfind('/'))).c_str());
    return 0;
  }
#endif
  if (std::FILE* f = std::fopen(hung_up_file().c_str(), "wb")) std::fclose(f);
  return 0;
}

HOSTILE_EXPORT DWORD RASAPI_CALL RasDialA(LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA params,
                                          DWORD, LPVOID, LPHRASCONN connection) {
  if (mode("codes")) return 0xFFFFFFFFu;
  if (mode("emptytext")) return 676;
  if (mode("unterminated")) return 691;
  if (mode("nullhandle")) return 0;
  *connection = line;
  return mode("refused") && std::strcmp(params->szEntryName, "busy") == 0 ? 676 : 0;
}

HOSTILE_EXPORT DWORD RASAPI_CALL RasGetErrorStringA(UINT code, LPSTR text, DWORD size) {
  if (mode("unterminated")) {
    std::memset(text, 'A', size);
    return 0;
  }
  if (mode("emptytext")) {
    text[0] = '\0';
    return 0;
  }
  if (code != access_denied) return ERROR_INVALID_PARAMETER;
  std::snprintf(text, size, "Access is denied.");
  return 0;
}
