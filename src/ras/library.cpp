#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "platform/platform.h"
#include "ras/ras.h"

namespace {

// More connections than any system holds; a larger count is not believed.
const DWORD most_connections = 4096;

}  // namespace

HMODULE load_rasapi32_or_exit() {
  HMODULE library = load_rasapi32();
  if (!library) {
    say("FATAL ERROR: Loading of RASAPI32.DLL failed!!");
    std::exit(1);
  }
  return library;
}

std::string no_entry_point(const char* name) {
  return std::string("Entry point ") + name + " not found in RASAPI32.DLL!!";
}

void missing_entry_point(const char* name) {
  say("FATAL ERROR: " + no_entry_point(name));
  std::exit(1);
}

std::string error_text(RasGetErrorStringA_t get_error_string, DWORD code) {
  // 256 bytes hold most texts. Some do not, the commonest VPN failures' among
  // them, and translations are longer still: Windows documents 512
  // characters as always enough, which take up to 1,536 bytes in UTF-8 (as
  // the ANSI code page of Windows' "Beta: UTF-8" setting), 1,024 in a
  // double-byte code page.
  char text[1536];
  for (DWORD size : {256u, 1536u}) {
    std::memset(text, 0, size);
    // A text the library did not terminate, or did not give, is never shown.
    if (get_error_string && get_error_string(code, text, size) == 0 &&
        std::memchr(text, '\0', size) && text[0] != '\0')
      return text;
  }
  return "RAS error " + std::to_string(code);
}

DWORD listed_count(DWORD bytes, DWORD count) {
  return std::max<DWORD>(count, bytes / sizeof(RASCONNA));
}

std::vector<RASCONNA> enumerate_connections(RasEnumConnectionsA_t enumerate, DWORD count,
                                            DWORD* failure) {
  DWORD result = 0;
  // A connection may come up between two calls, so a short buffer is tried
  // again with room for the new count, a few times at most.
  for (int attempt = 0; attempt < 3 && count > 0; ++attempt) {
    count = std::min(count, most_connections);
    std::vector<RASCONNA> records(count);
    records[0].dwSize = sizeof(RASCONNA);
    // The buffer's own size, so that the library can never write past it.
    DWORD bytes = static_cast<DWORD>(records.size() * sizeof(RASCONNA));
    DWORD filled = count;
    result = enumerate(records.data(), &bytes, &filled);
    if (result == 0) {
      records.resize(std::min<DWORD>(filled, count));
      // A record left without a handle was never filled in: it stands for
      // no connection.
      records.erase(std::remove_if(records.begin(), records.end(),
                                   [](const RASCONNA& record) { return !record.hrasconn; }),
                    records.end());
      return records;
    }
    filled = listed_count(bytes, filled);
    if (result != ERROR_BUFFER_TOO_SMALL || filled <= count) break;
    count = filled;
  }
  if (failure) *failure = result;
  return {};
}
