#include <cstdlib>
#include <cstring>

#include "cli/usage.h"
#include "console.h"
#include "platform/platform.h"
#include "ras/ras.h"

namespace {

// Copies a setting into its field, never past it, always terminated.
template <std::size_t N>
void put(char (&field)[N], const std::string& value) {
  std::size_t length = value.size() < N ? value.size() : N - 1;
  std::memcpy(field, value.data(), length);
  field[length] = '\0';
}

// Clears memory in a way the compiler may not leave out as a dead store.
void wipe(void* memory, std::size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(memory);
  while (size--) *p++ = 0;
}

void wipe(std::string& text) {
  if (!text.empty()) wipe(&text[0], text.size());
}

// The handle that the dial request stores, where an interrupt can reach it.
HRASCONN dialing{};

void cancel_dial() {
  // Read once: the request stores it from the main thread, maybe just now.
  if (HRASCONN stored = *static_cast<volatile HRASCONN*>(&dialing)) request_hangup(stored);
}

// Why the connection that a request returned 0 for is not up, or nothing
// when it is: a request may return short of connected, at a paused state
// (a retry of the password, an expired one, a callback) or another.
std::string not_connected(HMODULE library, HRASCONN connection,
                          RasGetErrorStringA_t get_error_string) {
  auto get_status = find_entry<RasGetConnectStatusA_t>(library, "RasGetConnectStatusA");
  if (!get_status) return no_entry_point("RasGetConnectStatusA");
  RASCONNSTATUSA status{};
  status.dwSize = sizeof status;
  if (DWORD result = get_status(connection, &status))
    return "the state of the dialed connection cannot be read: " +
           error_text(get_error_string, result);
  if (status.rasconnstate == RASCS_Connected) return "";
  if (status.dwError) return error_text(get_error_string, status.dwError);
  return "the dial ended with its connection in state " + std::to_string(status.rasconnstate) +
         ", not connected";
}

}  // namespace

RASDIALPARAMSA dial_params(const std::string& entry_name, const std::string& phone_number,
                           const std::string& user_name, const std::string& password,
                           const std::string& domain, const std::string& callback_number) {
  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof params);
  params.dwSize = sizeof params;
  put(params.szEntryName, entry_name);
  put(params.szPhoneNumber, phone_number);
  put(params.szCallbackNumber, callback_number);
  put(params.szUserName, user_name);
  put(params.szPassword, password);
  put(params.szDomain, domain);
  return params;
}

RASDIALEXTENSIONS dial_extensions() {
  RASDIALEXTENSIONS extensions{};
  extensions.dwSize = sizeof extensions;
  extensions.dwfOptions = RDEOPT_PausedStates | RDEOPT_IgnoreModemSpeaker |
                          RDEOPT_SetModemSpeaker | RDEOPT_SetSoftwareCompression |
                          RDEOPT_Router;
  extensions.hwndParent = HWND{};
  extensions.reserved = 0;
  return extensions;
}

std::string too_long_setting(const std::string& entry_name, const std::string& phone_number,
                             const std::string& user_name, const std::string& password,
                             const std::string& domain, const std::string& callback_number) {
  struct Limit {
    const char* setting;
    const std::string& value;
    std::size_t longest;
  };
  const Limit limits[] = {
      {"entry name", entry_name, RAS_MaxEntryName},
      {"phone number", phone_number, RAS_MaxPhoneNumber},
      {"user name", user_name, UNLEN},
      {"password", password, PWLEN},
      {"domain", domain, DNLEN},
      {"callback number", callback_number, RAS_MaxCallbackNumber},
  };
  for (const Limit& limit : limits)
    if (limit.value.size() > limit.longest)
      return std::string(limit.setting) + " is longer than " + std::to_string(limit.longest) +
             " characters";
  return "";
}

HRASCONN dial(std::string entry_name, std::string phone_number, std::string user_name,
              std::string password, std::string domain, std::string callback_number) {
  if (entry_name.empty() && phone_number.empty()) {
    say("");
    say("FATAL ERROR: missing Ras Entry name or Phone Number!! (-e | -n)");
    say("");
    print_usage();
    std::exit(1);
  }
  // A setting that does not fit its field is refused rather than cut short:
  // a shortened password or number would dial something else than asked.
  std::string too_long = too_long_setting(entry_name, phone_number, user_name, password,
                                          domain, callback_number);
  if (!too_long.empty()) {
    say("");
    say("FATAL ERROR: the " + too_long + "!!");
    say("");
    std::exit(1);
  }

  say("");
  say("Trying connection to '" + entry_name + "'...");
  HMODULE library = load_rasapi32_or_exit();
  auto ras_dial = find_entry<RasDialA_t>(library, "RasDialA");
  auto get_error_string = find_entry<RasGetErrorStringA_t>(library, "RasGetErrorStringA");
  if (!ras_dial) {
    FreeLibrary(library);
    wipe(password);
    return HRASCONN{};
  }
  say("Opening...");

  RASDIALPARAMSA params =
      dial_params(entry_name, phone_number, user_name, password, domain, callback_number);
  wipe(password);
  RASDIALEXTENSIONS extensions = dial_extensions();
  dialing = HRASCONN{};
  // No notifier: the request returns only once the dial has ended, or an
  // interrupt has hung up the line it stored.
  cancel_dial_on_interrupt(cancel_dial);
  DWORD result = ras_dial(&extensions, nullptr, &params, 1, nullptr, &dialing);
  const bool interrupted = cancel_dial_on_interrupt(nullptr);
  HRASCONN connection = dialing;
  // The password is needed for the request alone; no copy of it stays behind.
  wipe(&params, sizeof params);

  // A success without a handle gives nothing to use or to hang up later,
  // and one whose line is not up nothing to use: both are failures,
  // whatever the library says.
  std::string failure =
      result != 0   ? error_text(get_error_string, result)
      : interrupted ? "the dial was interrupted"
      : !connection ? "RAS reported a connection but gave no handle for it"
                    : not_connected(library, connection, get_error_string);
  if (!failure.empty()) {
    say("");
    say("FATAL ERROR: " + failure);
    say("");
    // Whatever handle the request left, the half-made line is hung up.
    hangup(connection);
    std::exit(1);
  }
  FreeLibrary(library);
  return connection;
}
