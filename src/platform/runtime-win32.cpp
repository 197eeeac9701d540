// The parts of the C++ runtime that quorvel.exe would otherwise copy from
// libstdc++ and never run. This leans on the toolchain's internals (GCC 12's
// libstdc++ as mingw-w64 ships it) and is linked into the Windows program only;
// the size check of the Windows builds says when it stops working, since a
// replacement that no longer matches brings the runtime back without a word.
//
// - The library's throw helpers (std::__throw_*, declared in
//   bits/functexcept.h) would pull in the standard exception classes, the
//   old copy-on-write string, the unwinder and winpthread. Each ends the
//   process through abort here: exactly what an uncaught exception did,
//   through the terminate handler below, with a non-zero code and nothing on
//   standard output.
// - std::string is declared `extern template` by libstdc++, so its members
//   come from the library's instantiation (string-inst.o, all of it, unwind
//   tables and throws included). Instantiated here instead, they are built
//   like the rest of the program and only what is used is kept.
// - operator new ends the process the same way when memory runs out, rather
//   than throwing std::bad_alloc.
#include <bits/functexcept.h>

#include <cstdlib>
#include <new>
#include <string>

template class std::basic_string<char>;

namespace std {
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
}  // namespace std

void* operator new(std::size_t size) {
  // No new_handler is ever set, so the library's loop would throw at once.
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  std::abort();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

// The runtime's own terminate handler writes the failure's text and pulls in
// the demangler; should anything still call it, it ends the process alike.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// Not libstdc++ but mingw-w64's start-up: its relocator of the
// pseudo-relocations that data imported from a DLL would need, about 3 KB
// with the section lookups and the fprintf report it brings. The program
// imports no data, so with an empty list it did nothing; no-pseudo-relocs.ld
// fails the link should a pseudo-relocation ever appear, so none is skipped.
extern "C" void _pei386_runtime_relocator() {}
