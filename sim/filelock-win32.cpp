// The host-system side of the simulated RAS service on Windows.
#include "filelock.h"

#include <cstdlib>
#include <windows.h>

bool lock_file(const std::string& path, FileLock& lock) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    CloseHandle(file);
    return false;
  }
  lock.handle = reinterpret_cast<std::intptr_t>(file);
  return true;
}

void unlock_file(FileLock& lock) {
  if (lock.handle == -1) return;
  const HANDLE file = reinterpret_cast<HANDLE>(lock.handle);
  OVERLAPPED at = {};
  UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);
  lock.handle = -1;
}

bool replace_contents(const std::string& path, const std::string& data) {
  const std::string tmp = path + ".tmp." + std::to_string(GetCurrentProcessId());
  const HANDLE file = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < data.size();) {
    DWORD wrote = 0;
    ok = WriteFile(file, data.data() + done, static_cast<DWORD>(data.size() - done), &wrote,
                   nullptr) &&
         wrote > 0;
    done += wrote;
  }
  if (!CloseHandle(file)) ok = false;
  if (ok && !MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) ok = false;
  if (!ok) DeleteFileA(tmp.c_str());
  return ok;
}

std::string default_state_path() {
  const char* temp = std::getenv("TEMP");
  if (temp && *temp) return std::string(temp) + "\\rassim.state";
  // No TEMP: the system's own choice of temporary folder, which ends in a
  // backslash.
  char folder[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder) return std::string();
  return std::string(folder, n) + "rassim.state";
}

void pause_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }
