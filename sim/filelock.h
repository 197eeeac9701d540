// The few things the simulated RAS service needs from the host system: an
// exclusive lock shared by every process, an all-or-nothing file write,
// where the state lives by default, and a pause.
#ifndef RASSIM_FILELOCK_H
#define RASSIM_FILELOCK_H

#include <cstdint>
#include <string>

// A lock held from lock_file until unlock_file; -1 when none is held.
struct FileLock {
  std::intptr_t handle = -1;
};

// Waits for the exclusive lock on the file at `path`, creating the file if
// need be.
bool lock_file(const std::string& path, FileLock& lock);
void unlock_file(FileLock& lock);

// Replaces the file at `path` by `data` in one step, through a temporary file
// beside it, so that no one ever sees it half written.
bool replace_contents(const std::string& path, const std::string& data);

// The per-user state file used when RASSIM_STATE is not set.
std::string default_state_path();

void pause_ms(std::uint32_t milliseconds);

#endif
