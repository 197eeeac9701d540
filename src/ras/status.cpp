#include "platform/platform.h"
#include "ras/ras.h"

namespace {

bool is_connected(RasGetConnectStatusA_t get_status, HRASCONN connection) {
  RASCONNSTATUSA status{};
  status.dwSize = sizeof status;
  return get_status(connection, &status) == 0 && status.rasconnstate == RASCS_Connected;
}

bool any_connected(RasEnumConnectionsA_t enumerate, RasGetConnectStatusA_t get_status) {
  RASCONNA one{};
  one.dwSize = sizeof one;
  DWORD bytes = sizeof one;
  DWORD count = 1;
  DWORD result = enumerate(&one, &bytes, &count);
  if (result == 0) return count > 0 && is_connected(get_status, one.hrasconn);
  if (result != ERROR_BUFFER_TOO_SMALL) return false;

  // Several connections are up: any one of them that is connected counts.
  for (const RASCONNA& record : enumerate_connections(enumerate, listed_count(bytes, count)))
    if (is_connected(get_status, record.hrasconn)) return true;
  return false;
}

}  // namespace

std::string IsRasConnected() {
  HMODULE library = load_rasapi32();
  if (!library) return "error";
  auto enumerate = find_entry<RasEnumConnectionsA_t>(library, "RasEnumConnectionsA");
  auto get_status = find_entry<RasGetConnectStatusA_t>(library, "RasGetConnectStatusA");
  bool connected = enumerate && get_status && any_connected(enumerate, get_status);
  FreeLibrary(library);
  return connected ? "Connected" : "Offline";
}

bool connection_is_up(HRASCONN connection) {
  HMODULE library = load_rasapi32();
  if (!library) return false;
  auto get_status = find_entry<RasGetConnectStatusA_t>(library, "RasGetConnectStatusA");
  bool up = get_status && is_connected(get_status, connection);
  FreeLibrary(library);
  return up;
}
