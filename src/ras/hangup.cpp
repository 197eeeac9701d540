#include <algorithm>

#include "console.h"
#include "platform/platform.h"
#include "ras/ras.h"

namespace {

const DWORD settle_ms = 4000;
const DWORD poll_ms = 1000;
// How many queries may still find the line up before the wait gives up.
// A refused request leaves the line a few seconds to drop by itself. An
// accepted one leaves it about two minutes, far beyond any line's normal
// drop: a connection that another program also holds, or a device that
// never reports the drop, must not hold the run for ever.
const int polls_after_refusal = 5;
const int polls_after_acceptance = 120;

void sleep_for(DWORD milliseconds) { Sleep(milliseconds); }

// Noted before the request, so that an end meanwhile waits for it too, and
// after it, since the system's 3 s count from then.
DWORD request(RasHangUpA_t hang_up, HRASCONN connection) {
  hang_up_requested();
  DWORD result = hang_up(connection);
  hang_up_requested();
  return result;
}

}  // namespace

bool wait_for_drop(HRASCONN connection, DWORD hang_up_result, bool (*is_up)(HRASCONN),
                   void (*delay)(DWORD)) {
  const int polls = hang_up_result == 0 ? polls_after_acceptance : polls_after_refusal;
  delay(settle_ms);
  for (int poll = 1; is_up(connection); ++poll) {
    say_part(".");
    if (poll == polls) return false;
    delay(poll_ms);
  }
  return true;
}

bool hangup(HRASCONN connection) {
  say("Closing connection...");
  HMODULE library = load_rasapi32_or_exit();
  auto hang_up = find_entry<RasHangUpA_t>(library, "RasHangUpA");
  if (!hang_up) missing_entry_point("RasHangUpA");
  // A stale or null handle is refused too, but its line is already down at
  // the first query, so the wait ends there as for any other line.
  DWORD result = request(hang_up, connection);
  say("Waiting for line to drop...");

  // The wait watches this connection alone, so that other connections can
  // neither end it early nor hold it open.
  bool dropped = wait_for_drop(connection, result, connection_is_up, sleep_for);
  if (!dropped) {
    auto get_error_string = find_entry<RasGetErrorStringA_t>(library, "RasGetErrorStringA");
    say("");
    say(result ? "ERROR: the line could not be hung up: " + error_text(get_error_string, result)
               : std::string("ERROR: the line is still up two minutes after its hang-up"));
  }
  FreeLibrary(library);
  return dropped;
}

void request_hangup(HRASCONN connection) {
  HMODULE library = load_rasapi32();
  if (!library) return;
  if (auto hang_up = find_entry<RasHangUpA_t>(library, "RasHangUpA")) request(hang_up, connection);
  FreeLibrary(library);
}

bool hangup_all() {
  say("Shutting down all RAS connections...");
  HMODULE library = load_rasapi32_or_exit();
  auto enumerate = find_entry<RasEnumConnectionsA_t>(library, "RasEnumConnectionsA");
  if (!enumerate) missing_entry_point("RasEnumConnectionsA");

  // The sizing call: no room at all, so that it reports the count. A
  // Windows that refuses a record with no room as of the wrong size is asked
  // again as Windows documents the call, without a record.
  RASCONNA sizing{};
  sizing.dwSize = sizeof sizing;
  DWORD bytes = 0;
  DWORD count = 0;
  DWORD sized = enumerate(&sizing, &bytes, &count);
  if (sized == ERROR_INVALID_SIZE) {
    bytes = count = 0;
    sized = enumerate(nullptr, &bytes, &count);
  }
  if (sized == ERROR_BUFFER_TOO_SMALL) count = std::max<DWORD>(1, listed_count(bytes, count));

  // Connections that cannot be counted (the listing refused, the service not
  // started), or that were counted but cannot be listed, are not "nothing to
  // hang": a script must not take them for hung up. "Buffer too small" is
  // how a sizing call gives its count.
  DWORD failure = sized == ERROR_BUFFER_TOO_SMALL ? 0 : sized;
  std::vector<RASCONNA> records;
  if (!failure) records = enumerate_connections(enumerate, count, &failure);
  if (failure) {
    auto get_error_string = find_entry<RasGetErrorStringA_t>(library, "RasGetErrorStringA");
    say("ERROR: the connections could not be listed: " + error_text(get_error_string, failure));
  } else if (records.empty()) {
    say("Nothing to hang... :-(");
  }
  // Every line is hung up, whichever of them fails.
  bool all_down = failure == 0;
  for (const RASCONNA& record : records) all_down = hangup(record.hrasconn) && all_down;
  FreeLibrary(library);
  return all_down;
}
