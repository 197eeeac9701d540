// The simulated Remote Access Service: a stand-in for the system's
// RASAPI32.DLL. Its connections live in a state file shared by every
// process, so that separate runs of the program dial, list and hang up the
// same lines, and a phone book says how each entry behaves when dialled.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "filelock.h"
#include "ledger.h"
#include "ras/rasapi.h"

#ifdef _WIN32
#define RASSIM_EXPORT extern "C" __declspec(dllexport)
#else
#define RASSIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The service's own codes, beyond those rasapi.h names.
const DWORD ERROR_CANNOT_OPEN_PHONEBOOK = 621;
const DWORD ERROR_CORRUPT_PHONEBOOK = 625;
[[maybe_unused]] const DWORD ERROR_USER_DISCONNECTION = 631;
// The state of a line that is still being dialed.
const DWORD RASCS_OpenPort = 0;
// A copy built without an entry point may leave these unused.
[[maybe_unused]] const DWORD ERROR_AUTHENTICATION_FAILURE = 691;
// The platform's "unknown error": the state file could not be used.
const DWORD ERROR_STATE = 635;

const std::uint64_t kLastHandle = 0xFFFFFFFFu;
const char kDeviceType[] = "vpn";
const char kDeviceName[] = "RASSIM";

struct ErrorText {
  DWORD code;
  const char* text;
};

[[maybe_unused]] const ErrorText kErrorTexts[] = {
    {6, "The connection handle is not valid, or the connection has gone."},
    {87, "A parameter given to the remote access service is not valid."},
    {603, "The buffer given is too small to hold the result."},
    {619, "The line was lost before the connection could be set up."},
    {621, "The remote access phone book file could not be opened."},
    {623, "The phone book has no entry of that name."},
    {625, "The remote access phone book is malformed and cannot be used."},
    {631, "The line was hung up before the dial ended."},
    {632, "A record given to the remote access service has the wrong size."},
    {635, "The remote access service could not use its connection state file."},
    {676, "The number called is busy."},
    {678, "Nobody answered the call."},
    {680, "There is no dial tone on the line."},
    {691, "The remote side refused the user name, password or domain."},
    {718, "The remote side stopped answering while the connection was set up."},
    // Longer than 255 bytes, as some of the system's own texts are.
    {809,
     "The remote server did not answer the connection attempt. The server may be "
     "down, or a firewall, a router or an address translation device between this "
     "computer and the server may hold back the traffic that the connection needs. "
     "Ask the server's administrator which ports and protocols must be let through, "
     "then try again."},
};

// Dialled when RASSIM_PHONEBOOK names no file, so that one can dial at once.
const char kBuiltInBook[] =
    "office      drop=1500ms\n"
    "vpn         drop=2queries\n"
    "secure      user=alice password=opensesame domain=HQ\n"
    "busy        fail=676\n"
    "noanswer    fail=678 handle=no\n"
    "nodialtone  fail=680 handle=no\n"
    "badlogin    fail=691\n"
    "lostline    fail=619\n"
    "timeout     fail=718\n"
    "stuck       state=authenticating\n"
    "paused      state=paused\n";

// How long a hung-up line takes to go: milliseconds, or status queries.
struct Drop {
  bool queries = false;
  std::uint32_t count = 0;
};

struct Entry {
  std::string name;
  DWORD fail = 0;
  bool handle = true;
  DWORD state = RASCS_Connected;
  Drop drop;
  std::uint32_t dialing_ms = 0;
  std::vector<std::pair<std::string, std::string>> required;  // credential, value
};

struct Conn {
  std::uint32_t handle = 0;
  DWORD state = RASCS_Connected;
  DWORD error = 0;
  Drop drop;
  bool hungup = false;
  std::uint64_t deadline = 0;  // wall clock, ms since the epoch
  std::uint32_t queries_left = 0;
  std::string name;
};

struct State {
  std::uint64_t next = 1;  // the next handle to give; handles are never reused
  std::vector<Conn> conns;
};

std::uint64_t now_ms() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// HRASCONN is a pointer on Windows and a plain number elsewhere; a C cast
// converts either way.
std::uint32_t handle_value(HRASCONN h) { return (std::uint32_t)(std::uintptr_t)h; }
HRASCONN make_handle(std::uint32_t v) { return (HRASCONN)(std::uintptr_t)v; }

// Decimal digits only, no sign, no overflow past `max`.
bool parse_number(const std::string& s, std::uint64_t max, std::uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (digit > max || out > (max - digit) / 10) return false;
    out = out * 10 + digit;
  }
  return true;
}

bool parse_drop(const std::string& s, Drop& drop) {
  for (const char* unit : {"ms", "queries"}) {
    const std::size_t n = std::strlen(unit);
    std::uint64_t count;
    if (s.size() > n && s.compare(s.size() - n, n, unit) == 0 &&
        parse_number(s.substr(0, s.size() - n), 0xFFFFFFFFu, count)) {
      drop.queries = unit[0] == 'q';
      drop.count = static_cast<std::uint32_t>(count);
      return true;
    }
  }
  return false;
}

std::string format_drop(const Drop& drop) {
  return std::to_string(drop.count) + (drop.queries ? "queries" : "ms");
}

// A text field of a record, read no further than the field itself.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
  return std::string(field, std::find(field, field + N, '\0'));
}

template <std::size_t N>
void put_text(char (&field)[N], const std::string& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

// Splits at `separator`; with `blanks`, runs of spaces and tabs separate and
// no empty words are kept.
std::vector<std::string> split(const std::string& s, char separator, bool blanks) {
  std::vector<std::string> words;
  std::string word;
  for (char c : s + separator) {
    if (c == separator || (blanks && c == '\t')) {
      if (!blanks || !word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

// Reads a whole file; `missing` tells a file that is not there from one
// that could not be read.
bool read_file(const std::string& path, std::string& text, bool& missing) {
  text.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  missing = !f && errno == ENOENT;
  if (!f) return missing;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

const Entry* find_entry(const std::vector<Entry>& book, const std::string& name) {
  for (const Entry& e : book)
    if (e.name == name) return &e;
  return nullptr;
}

bool parse_book(const std::string& text, std::vector<Entry>& book) {
  for (std::string line : split(text, '\n', false)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = split(line, ' ', true);
    if (words.empty() || words[0][0] == '#') continue;
    Entry e;
    e.name = words[0];
    if (e.name.size() > RAS_MaxEntryName || find_entry(book, e.name)) return false;
    std::vector<std::string> seen;
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::size_t eq = words[i].find('=');
      if (eq == std::string::npos) return false;
      const std::string key = words[i].substr(0, eq), value = words[i].substr(eq + 1);
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) return false;
      seen.push_back(key);
      std::uint64_t n;
      if (key == "fail") {
        if (!parse_number(value, 0xFFFFFFFFu, n) || n == 0) return false;
        e.fail = static_cast<DWORD>(n);
      } else if (key == "handle" && (value == "yes" || value == "no")) {
        e.handle = value == "yes";
      } else if (key == "state" && value == "connected") {
        e.state = RASCS_Connected;
      } else if (key == "state" && value == "authenticating") {
        e.state = RASCS_Authenticate;
      } else if (key == "state" && value == "paused") {
        e.state = RASCS_Interactive;
      } else if (key == "drop") {
        if (!parse_drop(value, e.drop)) return false;
      } else if (key == "dialing") {
        Drop time;
        if (!parse_drop(value, time) || time.queries) return false;
        e.dialing_ms = time.count;
      } else if (key == "user" || key == "password" || key == "domain" || key == "callback") {
        e.required.emplace_back(key, value);
      } else {
        return false;
      }
    }
    book.push_back(e);
  }
  return true;
}

[[maybe_unused]] DWORD load_book(std::vector<Entry>& book) {
  std::string text = kBuiltInBook;
  const char* path = std::getenv("RASSIM_PHONEBOOK");
  bool missing = false;
  if (path && *path && (!read_file(path, text, missing) || missing))
    return ERROR_CANNOT_OPEN_PHONEBOOK;
  return parse_book(text, book) ? 0 : ERROR_CORRUPT_PHONEBOOK;
}

[[maybe_unused]] bool credentials_match(const Entry& e, const RASDIALPARAMSA& p) {
  for (const auto& need : e.required) {
    const std::string given = need.first == "user"       ? field_text(p.szUserName)
                              : need.first == "password" ? field_text(p.szPassword)
                              : need.first == "domain"   ? field_text(p.szDomain)
                                                         : field_text(p.szCallbackNumber);
    if (given != need.second) return false;
  }
  return true;
}

// Names may hold any byte; those that would break the line-based state file
// are written as %XX.
std::string escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool unescape(const std::string& s, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
      return false;
    out += static_cast<char>(std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16));
    i += 2;
  }
  return true;
}

std::string format_state(const State& s) {
  std::string out = "next " + std::to_string(s.next) + "\n";
  for (const Conn& c : s.conns)
    out += "conn " + std::to_string(c.handle) + " " + std::to_string(c.state) + " " +
           std::to_string(c.error) + " " + format_drop(c.drop) + " " + (c.hungup ? "1" : "0") +
           " " + std::to_string(c.deadline) + " " + std::to_string(c.queries_left) + " " +
           escape(c.name) + "\n";
  // The closing count lets a cut-off file be told from a complete one.
  return out + "end " + std::to_string(s.conns.size()) + "\n";
}

bool parse_conn(const std::string& line, std::uint64_t next, Conn& c) {
  std::vector<std::string> w = split(line, ' ', false);
  if (w.size() < 9 || w[0] != "conn") return false;
  std::string name = w[8];  // the rest of the line, spaces and all
  for (std::size_t i = 9; i < w.size(); ++i) name += " " + w[i];
  std::uint64_t handle, state, error, hungup, deadline, left;
  if (!parse_number(w[1], next - 1, handle) || handle == 0 ||
      !parse_number(w[2], 0xFFFFFFFFu, state) || !parse_number(w[3], 0xFFFFFFFFu, error) ||
      !parse_drop(w[4], c.drop) || !parse_number(w[5], 1, hungup) ||
      !parse_number(w[6], UINT64_MAX, deadline) || !parse_number(w[7], 0xFFFFFFFFu, left) ||
      !unescape(name, c.name) || c.name.empty())
    return false;
  if (state != RASCS_Connected && state != RASCS_Disconnected && state != RASCS_Authenticate &&
      state != RASCS_Interactive && state != RASCS_OpenPort)
    return false;
  c.handle = static_cast<std::uint32_t>(handle);
  c.state = static_cast<DWORD>(state);
  c.error = static_cast<DWORD>(error);
  c.hungup = hungup == 1;
  c.deadline = deadline;
  c.queries_left = static_cast<std::uint32_t>(left);
  return true;
}

// Anything short of a whole, well-formed state is refused, an empty file too:
// the service never writes one, so it can only be the remains of damage.
bool parse_state(const std::string& text, State& s) {
  s = State();
  if (text.empty() || text.back() != '\n') return false;
  std::vector<std::string> lines = split(text, '\n', false);
  lines.pop_back();  // what follows the final newline
  if (lines.size() < 2 || lines.front().compare(0, 5, "next ") != 0 ||
      !parse_number(lines.front().substr(5), kLastHandle + 1, s.next) || s.next == 0)
    return false;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    Conn c;
    if (!parse_conn(lines[i], s.next, c)) return false;
    for (const Conn& other : s.conns)
      if (other.handle == c.handle) return false;
    s.conns.push_back(c);
  }
  std::uint64_t count;
  return lines.back().compare(0, 4, "end ") == 0 &&
         parse_number(lines.back().substr(4), UINT64_MAX, count) && count == s.conns.size();
}

// The shared state while it is held: locked, read, and expired lines gone.
struct Session {
  std::string path;
  FileLock lock;
  State state;
  bool changed = false;
  ~Session() { unlock_file(lock); }
};

// Takes the lock and reads the state, dropping the lines whose drop time has
// passed. False when the state cannot be used.
bool begin(Session& t) {
  const char* path = std::getenv("RASSIM_STATE");
  t.path = path && *path ? std::string(path) : default_state_path();
  std::string text;
  bool missing;
  if (t.path.empty() || !lock_file(t.path + ".lock", t.lock) ||
      !read_file(t.path, text, missing))
    return false;
  // No file yet is a system with no connections.
  if (missing)
    t.state = State();
  else if (!parse_state(text, t.state))
    return false;
  const std::uint64_t now = now_ms();
  auto& conns = t.state.conns;
  const std::size_t before = conns.size();
  conns.erase(std::remove_if(conns.begin(), conns.end(),
                             [&](const Conn& c) {
                               return c.hungup && !c.drop.queries && c.deadline <= now;
                             }),
              conns.end());
  t.changed = conns.size() != before;
  return true;
}

// Writes the state back if anything changed; false if that failed, leaving
// the file as it was.
bool commit(Session& t) { return !t.changed || replace_contents(t.path, format_state(t.state)); }

std::vector<Conn>::iterator find_conn(State& s, std::uint32_t handle) {
  return std::find_if(s.conns.begin(), s.conns.end(),
                      [&](const Conn& c) { return c.handle == handle; });
}

}  // namespace

#ifndef RASSIM_OMIT_RasEnumConnectionsA
namespace {
DWORD enumerate(LPRASCONNA lprasconn, LPDWORD lpcb, LPDWORD lpcConnections) {
  try {
    if (!lpcb || !lpcConnections) return ERROR_INVALID_PARAMETER;
    if (lprasconn && lprasconn->dwSize != sizeof(RASCONNA)) return ERROR_INVALID_SIZE;
    Session t;
    if (!begin(t) || !commit(t)) return ERROR_STATE;
    const std::vector<Conn>& conns = t.state.conns;
    const DWORD needed = static_cast<DWORD>(conns.size() * sizeof(RASCONNA));
    // Without an array there is no room at all, whatever the size says.
    const DWORD room = lprasconn ? *lpcb : 0;
    *lpcb = needed;
    *lpcConnections = static_cast<DWORD>(conns.size());
    if (room < needed) return ERROR_BUFFER_TOO_SMALL;
    if (!lprasconn) return 0;  // nothing to fill: no connections
    for (std::size_t i = 0; i < conns.size(); ++i) {
      RASCONNA& r = lprasconn[i];
      std::memset(&r, 0, sizeof r);
      r.dwSize = sizeof r;
      r.hrasconn = make_handle(conns[i].handle);
      put_text(r.szEntryName, conns[i].name);
      put_text(r.szDeviceType, kDeviceType);
      put_text(r.szDeviceName, kDeviceName);
    }
    return 0;
  } catch (...) {
    return ERROR_STATE;
  }
}
}  // namespace

#ifdef RASSIM_IMPORTS
// The variant whose own imports are planted beside the program: one the
// loader resolves with the library, and one loaded by name at its first
// use, as a delay-loaded import is.
extern "C" __declspec(dllimport) int rashelp();
#endif

RASSIM_EXPORT DWORD RASAPI_CALL RasEnumConnectionsA(LPRASCONNA lprasconn, LPDWORD lpcb,
                                                    LPDWORD lpcConnections) {
  static_assert(std::is_same<decltype(&RasEnumConnectionsA), RasEnumConnectionsA_t>::value, "");
#ifdef RASSIM_IMPORTS
  rashelp();
  if (HMODULE later = LoadLibraryA("raslater.dll")) FreeLibrary(later);
#endif
  const std::string call = "RasEnumConnectionsA " + enumeration(lprasconn, lpcb, lpcConnections);
  const DWORD result = enumerate(lprasconn, lpcb, lpcConnections);
  note(call + " -> " + std::to_string(result) + " " + counts(lpcb, lpcConnections));
  return result;
}
#endif

#ifndef RASSIM_OMIT_RasGetConnectStatusA
namespace {
DWORD connect_status(HRASCONN h, LPRASCONNSTATUSA status) {
  try {
    if (!status) return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(RASCONNSTATUSA)) return ERROR_INVALID_SIZE;
    if (!handle_value(h)) return ERROR_INVALID_HANDLE;
    Session t;
    if (!begin(t)) return ERROR_STATE;
    auto c = find_conn(t.state, handle_value(h));
    const bool known = c != t.state.conns.end();
    const Conn found = known ? *c : Conn();
    // A line hung up with a query-counted drop comes one query nearer its
    // end each time; the query after the last finds it gone.
    const bool counting = known && c->hungup && c->drop.queries;
    const bool gone = !known || (counting && c->queries_left == 0);
    if (counting && gone) t.state.conns.erase(c);
    else if (counting) --c->queries_left;
    t.changed = t.changed || counting;
    if (!commit(t)) return ERROR_STATE;
    if (gone) return ERROR_INVALID_HANDLE;
    status->rasconnstate = found.state;
    status->dwError = found.error;
    put_text(status->szDeviceType, kDeviceType);
    put_text(status->szDeviceName, kDeviceName);
    return 0;
  } catch (...) {
    return ERROR_STATE;
  }
}
}  // namespace

RASSIM_EXPORT DWORD RASAPI_CALL RasGetConnectStatusA(HRASCONN h, LPRASCONNSTATUSA status) {
  static_assert(std::is_same<decltype(&RasGetConnectStatusA), RasGetConnectStatusA_t>::value, "");
  const DWORD result = connect_status(h, status);
  note("RasGetConnectStatusA " + status_call(h, status) + " -> " + std::to_string(result) +
       (result ? "" : " state=" + std::to_string(status->rasconnstate)));
  return result;
}
#endif

#ifndef RASSIM_OMIT_RasHangUpA
namespace {
DWORD hang_up(HRASCONN h) {
  try {
    if (!handle_value(h)) return ERROR_INVALID_HANDLE;
    Session t;
    if (!begin(t)) return ERROR_STATE;
    auto c = find_conn(t.state, handle_value(h));
    const bool known = c != t.state.conns.end();
    // A line already on its way down is left as it is.
    if (known && !c->hungup) {
      if (c->error || c->drop.count == 0) {
        t.state.conns.erase(c);
      } else {
        c->hungup = true;
        if (c->drop.queries) c->queries_left = c->drop.count;
        else c->deadline = now_ms() + c->drop.count;
      }
      t.changed = true;
    }
    if (!commit(t)) return ERROR_STATE;
    return known ? 0 : ERROR_INVALID_HANDLE;
  } catch (...) {
    return ERROR_STATE;
  }
}
}  // namespace

RASSIM_EXPORT DWORD RASAPI_CALL RasHangUpA(HRASCONN h) {
  static_assert(std::is_same<decltype(&RasHangUpA), RasHangUpA_t>::value, "");
  const DWORD result = hang_up(h);
  note("RasHangUpA " + handle_text(h) + " -> " + std::to_string(result));
  remember_hang_up();
  return result;
}
#endif

#ifndef RASSIM_OMIT_RasDialA
namespace {
// The end of a dial that takes time: its line, listed as being dialed and
// its handle given from the start, gets the dial's outcome at `until`,
// unless a hang-up (from another thread or process) comes first, which ends
// the request with 631 as it ends a real one.
DWORD finish_dialing(std::uint32_t handle, std::uint64_t until, DWORD rc, DWORD state) {
  for (;;) {
    pause_ms(10);
    Session t;
    if (!begin(t)) return ERROR_STATE;
    auto c = find_conn(t.state, handle);
    const bool hung_up = c == t.state.conns.end() || c->hungup;
    const bool ended = !hung_up && now_ms() >= until;
    if (ended) {
      c->state = rc ? RASCS_Disconnected : state;
      c->error = rc;
      t.changed = true;
    }
    if (!commit(t)) return ERROR_STATE;
    if (hung_up) return ERROR_USER_DISCONNECTION;
    if (ended) return rc;
  }
}

DWORD dial(LPRASDIALEXTENSIONS ext, LPRASDIALPARAMSA params, LPVOID notifier,
           LPHRASCONN lphRasConn) {
  try {
    if (!params || !lphRasConn) return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMSA) ||
        (ext && ext->dwSize != sizeof(RASDIALEXTENSIONS)))
      return ERROR_INVALID_SIZE;
    // Only synchronous dials, into an empty handle.
    if (*lphRasConn || notifier) return ERROR_INVALID_PARAMETER;
    std::vector<Entry> book;
    if (const DWORD rc = load_book(book)) return rc;
    const std::string name = field_text(params->szEntryName);
    const std::string phone = field_text(params->szPhoneNumber);
    const Entry* found = name.empty() ? nullptr : find_entry(book, name);
    Entry entry;
    if (found) entry = *found;
    else if (!phone.empty()) entry.name = name.empty() ? "." + phone : name;
    else return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    DWORD rc = entry.fail;
    if (!rc && !credentials_match(entry, *params)) rc = ERROR_AUTHENTICATION_FAILURE;
    if (rc && !entry.handle) return rc;
    Session t;
    if (!begin(t) || t.state.next > kLastHandle) return ERROR_STATE;
    Conn c;
    c.handle = static_cast<std::uint32_t>(t.state.next++);
    // A dial that takes time is still opening its port; the outcome comes later.
    c.state = entry.dialing_ms ? RASCS_OpenPort : (rc ? RASCS_Disconnected : entry.state);
    c.error = entry.dialing_ms ? 0 : rc;
    c.drop = entry.drop;
    c.name = entry.name;
    t.state.conns.push_back(c);
    t.changed = true;
    if (!commit(t)) return ERROR_STATE;
    *lphRasConn = make_handle(c.handle);
    if (!entry.dialing_ms) return rc;
    unlock_file(t.lock);  // held no longer than the call would take
    return finish_dialing(c.handle, now_ms() + entry.dialing_ms, rc, entry.state);
  } catch (...) {
    return ERROR_STATE;
  }
}
}  // namespace

RASSIM_EXPORT DWORD RASAPI_CALL RasDialA(LPRASDIALEXTENSIONS ext, LPCSTR, LPRASDIALPARAMSA params,
                                         DWORD, LPVOID notifier, LPHRASCONN lphRasConn) {
  static_assert(std::is_same<decltype(&RasDialA), RasDialA_t>::value, "");
  const DWORD result = dial(ext, params, notifier, lphRasConn);
  note("RasDialA " + dial_call(ext, params) + " -> " + std::to_string(result) +
       (lphRasConn ? " " + handle_text(*lphRasConn) : ""));
  remember_dial_record(params);
  return result;
}
#endif

#ifndef RASSIM_OMIT_RasGetErrorStringA
namespace {
DWORD error_string(UINT code, LPSTR buffer, DWORD size) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  for (const ErrorText& e : kErrorTexts) {
    if (e.code != code) continue;
    const std::size_t n = std::strlen(e.text);
    if (n + 1 > size) return ERROR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, e.text, n + 1);
    return 0;
  }
  return ERROR_INVALID_PARAMETER;
}
}  // namespace

RASSIM_EXPORT DWORD RASAPI_CALL RasGetErrorStringA(UINT code, LPSTR buffer, DWORD size) {
  static_assert(std::is_same<decltype(&RasGetErrorStringA), RasGetErrorStringA_t>::value, "");
  const DWORD result = error_string(code, buffer, size);
  note("RasGetErrorStringA code=" + std::to_string(code) + " size=" + std::to_string(size) +
       " -> " + std::to_string(result));
  return result;
}
#endif
