// The stand-in for the Windows names on other systems: dynamic loading
// through dlopen, a Sleep that really sleeps, and the C library's output and
// command interpreter.
#include <dlfcn.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

// "RASAPI32.DLL" is known here as librasapi32.so.
std::string shared_object_name(const std::string& dll) {
  std::string base = dll;
  std::string::size_type dot = base.rfind('.');
  if (dot != std::string::npos) base.erase(dot);
  for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "lib" + base + ".so";
}

std::string executable_folder() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string folder(path, static_cast<std::string::size_type>(length));
  std::string::size_type slash = folder.rfind('/');
  return slash == std::string::npos ? "" : folder.substr(0, slash + 1);
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR name) {
  std::string file = shared_object_name(name);
  // The copy beside the program comes first, so that a freshly built
  // program finds its own library with nothing set.
  std::string folder = executable_folder();
  if (!folder.empty()) {
    if (HMODULE module = dlopen((folder + file).c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) { return dlclose(module) == 0; }

void Sleep(DWORD milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

HMODULE load_rasapi32() { return LoadLibraryA("RASAPI32.DLL"); }

void write_output(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// system() ignores SIGINT and SIGQUIT in the caller while the command runs.
int run_command(const std::string& command) { return std::system(command.c_str()); }

// A terminal that closes ends the run with SIGHUP, as it ends any program.
void at_console_close(void (*)()) {}

// SIGINT ends the run by the signal here, so no hang-up waits on it and no
// dial is cancelled by it.
void hang_up_requested() {}

bool cancel_dial_on_interrupt(void (*)()) { return false; }
