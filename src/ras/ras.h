// RAS connection control: the status query, hang-up and dialing. Each
// operation binds RASAPI32.DLL anew and releases it before it returns.
#ifndef QUORVEL_RAS_RAS_H
#define QUORVEL_RAS_RAS_H

#include <string>
#include <vector>

#include "ras/rasapi.h"

// "Connected", "Offline", or "error" when the library cannot be loaded.
std::string IsRasConnected();

// Whether this one connection still reports itself connected.
bool connection_is_up(HRASCONN connection);

// Each says why and returns false when a line it hangs up is still up at
// the end of the wait, or when the connections cannot be listed.
bool hangup(HRASCONN connection);
bool hangup_all();

// The hang-up request alone: no message, no wait, no end of the process,
// for a console that closes under the run.
void request_hangup(HRASCONN connection);

// The wait after a hang-up request that gave `hang_up_result`: the settle
// delay, then one query a second, a "." for each that finds the line up,
// until it is down (true) or has been found up too often (false).
bool wait_for_drop(HRASCONN connection, DWORD hang_up_result, bool (*is_up)(HRASCONN),
                   void (*delay)(DWORD));

// Returns only with a live connection, or with a null handle when the
// library offers no way to dial; every failure ends the process.
HRASCONN dial(std::string entry_name, std::string phone_number, std::string user_name,
              std::string password, std::string domain, std::string callback_number);

// The dial records as the dial request receives them. Settings longer than
// their field are cut short here; dial refuses them before it gets this far.
RASDIALPARAMSA dial_params(const std::string& entry_name, const std::string& phone_number,
                           const std::string& user_name, const std::string& password,
                           const std::string& domain, const std::string& callback_number);
RASDIALEXTENSIONS dial_extensions();

// The first setting that does not fit its field, as "<setting> is longer
// than <N> characters"; empty when all fit.
std::string too_long_setting(const std::string& entry_name, const std::string& phone_number,
                             const std::string& user_name, const std::string& password,
                             const std::string& domain, const std::string& callback_number);

// The shared pieces of the operations above.
HMODULE load_rasapi32_or_exit();
std::string no_entry_point(const char* name);
[[noreturn]] void missing_entry_point(const char* name);
// The library's own text for an error code, or "RAS error <code>".
std::string error_text(RasGetErrorStringA_t get_error_string, DWORD code);
// How many connections a listing that found too little room says there
// are: the count is the number of records written, which a Windows may
// leave as it was, and then the byte size tells. Too many does no harm, as
// the listing says how many it filled.
DWORD listed_count(DWORD bytes, DWORD count);
// The connections the library lists, with room for `count` of them; none
// when it cannot list them, and then `failure`, if given, gets its last
// answer (0 when it listed none).
std::vector<RASCONNA> enumerate_connections(RasEnumConnectionsA_t enumerate, DWORD count,
                                            DWORD* failure = nullptr);

#endif
