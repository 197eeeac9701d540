// The host-system side of the simulated RAS service on POSIX systems.
#include "filelock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <time.h>
#include <sys/file.h>
#include <unistd.h>

bool lock_file(const std::string& path, FileLock& lock) {
  // Never through a link: the default lives in a shared folder.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  int rc;
  while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    close(fd);
    return false;
  }
  lock.handle = fd;
  return true;
}

void unlock_file(FileLock& lock) {
  // Closing the file releases its lock.
  if (lock.handle >= 0) close(static_cast<int>(lock.handle));
  lock.handle = -1;
}

bool replace_contents(const std::string& path, const std::string& data) {
  const std::string tmp = path + ".tmp." + std::to_string(getpid());
  // A leftover of a process that died mid-write goes; the file is then made
  // afresh, never followed through a link planted in its place.
  unlink(tmp.c_str());
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR) ok = false;
  }
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

std::string default_state_path() {
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run && *run) return std::string(run) + "/rassim.state";
  return "/tmp/rassim-" + std::to_string(getuid()) + ".state";
}

void pause_ms(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}
