/* The floor for quorvel -s: a minimal C program that loads the same RAS
   library, makes the same two calls (the enumeration with room for one
   connection, then its status), releases the library and writes the same
   lines. The records are the 32-bit layouts: 412 and 160 bytes. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint32_t (*enumerate_t)(void*, uint32_t*, uint32_t*);
typedef uint32_t (*status_t)(uint32_t, void*);

static void say(const char* line) {
  fputs(line, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

int main(int argc, char** argv) {
  (void)argc;
  unsigned char connection[412] = {0}, status[160] = {0};
  uint32_t size = 412, count = 1, handle, state;
  int connected = 0;
  char path[4096];
  /* The library beside the floor's own executable, as the program finds it. */
  snprintf(path, sizeof path, "%s", argv[0]);
  char* slash = strrchr(path, '/');
  snprintf(slash ? slash + 1 : path, sizeof path - (slash ? (size_t)(slash + 1 - path) : 0),
           "librasapi32.so");
  say("");
  say("quorvel v0.4");
  say("");
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    say("Connection Status: error");
    return 0;
  }
  enumerate_t enumerate = (enumerate_t)dlsym(library, "RasEnumConnectionsA");
  status_t get_status = (status_t)dlsym(library, "RasGetConnectStatusA");
  memcpy(connection, &size, 4);
  size = 160;
  memcpy(status, &size, 4);
  size = 412;
  if (enumerate && get_status && enumerate(connection, &size, &count) == 0 && count > 0) {
    memcpy(&handle, connection + 4, 4);
    if (get_status(handle, status) == 0) {
      memcpy(&state, status + 4, 4);
      connected = state == 0x2000;
    }
  }
  dlclose(library);
  say(connected ? "Connection Status: Connected" : "Connection Status: Offline");
  return 0;
}
