/* Prints the versions Windows itself reads from a program's version
   information (GetFileVersionInfo), one "Name=value" line each, so that the
   tests can compare them with what the program prints:
   fileversion.exe PROGRAM. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  static const char* const names[] = {"FileVersion", "ProductVersion"};
  DWORD ignored = 0;
  DWORD size = argc == 2 ? GetFileVersionInfoSizeA(argv[1], &ignored) : 0;
  void* info = size ? malloc(size) : NULL;
  if (!info || !GetFileVersionInfoA(argv[1], 0, size, info)) {
    fprintf(stderr, "fileversion.exe: no version information in %s\n", argc == 2 ? argv[1] : "?");
    return 2;
  }
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (VerQueryValueA(info, "\\", (void**)&fixed, &length) && fixed)
    printf("Fixed=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
           fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
           fixed->dwFileVersionLS & 0xFFFF);
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
    char path[64];
    char* value = NULL;
    snprintf(path, sizeof path, "\\StringFileInfo\\040904E4\\%s", names[i]);
    if (VerQueryValueA(info, path, (void**)&value, &length) && value)
      printf("%s=%s\n", names[i], value);
  }
  free(info);
  return 0;
}
