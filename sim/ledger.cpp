#include "ledger.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Set by a dial; it lives in the caller's memory.
LPRASDIALPARAMSA dial_record = nullptr;
// When this process last asked for a hang-up, if it did.
bool hung_up = false;
std::chrono::steady_clock::time_point hung_up_at;

std::string sized(DWORD size, std::size_t record, const char* name) {
  return size == record ? name : "size " + std::to_string(size);
}

std::string bytes_text(DWORD bytes) {
  if (bytes && bytes % sizeof(RASCONNA) == 0)
    return std::to_string(bytes / sizeof(RASCONNA)) + "*RASCONNA";
  return std::to_string(bytes);
}

// The library is unloaded: released by its last FreeLibrary, or still
// loaded when the process ends.
void unloaded(bool process_ends) {
  if (!std::getenv("RASSIM_LEDGER")) return;
  if (dial_record) {
    const char* password = dial_record->szPassword;
    const bool wiped = std::all_of(password, password + sizeof dial_record->szPassword,
                                   [](char c) { return c == '\0'; });
    note(std::string("dial record: password ") + (wiped ? "wiped" : "left in memory"));
  }
  note(process_ends ? "end of process, still loaded" : "release");
  // The system asks a program not to end within 3 s of a hang-up request,
  // which may then never be carried out; a program that counts them with
  // GetTickCount, whose steps can be 16 ms, may end a little sooner.
  const auto since = std::chrono::steady_clock::now() - hung_up_at;
  if (process_ends && hung_up && since < std::chrono::milliseconds(2900))
    note("end of process within 3 s of a hang-up request");
}

}  // namespace

void note(const std::string& line) {
  const char* path = std::getenv("RASSIM_LEDGER");
  if (!path || !*path) return;
  if (std::FILE* f = std::fopen(path, "ab")) {
    std::fputs((line + "\n").c_str(), f);
    std::fclose(f);
  }
}

std::string enumeration(LPRASCONNA records, LPDWORD bytes, LPDWORD count) {
  return (records ? sized(records->dwSize, sizeof(RASCONNA), "RASCONNA") : "no records") + " " +
         counts(bytes, count);
}

std::string counts(LPDWORD bytes, LPDWORD count) {
  return "bytes=" + (bytes ? bytes_text(*bytes) : "none") +
         " count=" + (count ? std::to_string(*count) : "none");
}

std::string handle_text(HRASCONN connection) {
  // A C cast, as the handle is a pointer on Windows and a number elsewhere.
  return "handle=" + std::to_string((std::uintptr_t)connection);
}

std::string status_call(HRASCONN connection, LPRASCONNSTATUSA status) {
  return handle_text(connection) + " " +
         (status ? sized(status->dwSize, sizeof(RASCONNSTATUSA), "RASCONNSTATUSA") : "no record");
}

std::string dial_call(LPRASDIALEXTENSIONS extensions, LPRASDIALPARAMSA params) {
  return (params ? sized(params->dwSize, sizeof(RASDIALPARAMSA), "RASDIALPARAMSA") : "no params") +
         " " +
         (extensions
              ? sized(extensions->dwSize, sizeof(RASDIALEXTENSIONS), "RASDIALEXTENSIONS")
              : "no extensions");
}

void remember_dial_record(LPRASDIALPARAMSA params) { dial_record = params; }

void remember_hang_up() {
  hung_up = true;
  hung_up_at = std::chrono::steady_clock::now();
}

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Windows says whether the process is ending: then reserved is set.
  if (reason == DLL_PROCESS_ATTACH) note("load");
  if (reason == DLL_PROCESS_DETACH) unloaded(reserved != nullptr);
  return TRUE;
}
#else
namespace {
bool exiting = false;
void mark_exiting() { exiting = true; }
}  // namespace

__attribute__((constructor)) static void loaded() {
  if (!std::getenv("RASSIM_LEDGER")) return;
  note("load");
  // An exit handler that a library registers runs at the process's exit,
  // before the libraries still loaded are unloaded; on a release it runs
  // only after this library's destructor. So it tells the one from the
  // other, and goes with the library, never outliving its code.
  std::atexit(mark_exiting);
}

__attribute__((destructor)) static void unloading() { unloaded(exiting); }
#endif
