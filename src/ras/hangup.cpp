#include "console.h"
#include "ras/ras.h"

void hangup(HRASCONN connection) {
  say("Closing connection...");
  HMODULE library = load_rasapi32_or_exit();
  auto hang_up = find_entry<RasHangUpA_t>(library, "RasHangUpA");
  if (!hang_up) missing_entry_point("RasHangUpA");
  // A stale or null handle fails here silently; the wait below still ends.
  hang_up(connection);
  say("Waiting for line to drop...");

  // The wait watches this connection alone, so that other connections can
  // neither end it early nor hold it open.
  Sleep(4000);
  while (connection_is_up(connection)) {
    say_part(".");
    Sleep(1000);
  }
  FreeLibrary(library);
}

void hangup_all() {
  say("Shutting down all RAS connections...");
  HMODULE library = load_rasapi32_or_exit();
  auto enumerate = find_entry<RasEnumConnectionsA_t>(library, "RasEnumConnectionsA");
  if (!enumerate) missing_entry_point("RasEnumConnectionsA");

  // The sizing call: no room at all, so that it reports the count.
  RASCONNA sizing{};
  sizing.dwSize = sizeof sizing;
  DWORD bytes = 0;
  DWORD count = 0;
  enumerate(&sizing, &bytes, &count);

  std::vector<RASCONNA> records = enumerate_connections(enumerate, count);
  if (records.empty()) say("Nothing to hang... :-(");
  for (const RASCONNA& record : records) hangup(record.hrasconn);
  FreeLibrary(library);
}
