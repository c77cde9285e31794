// Keeps the C++ runtime's exception machinery out of the stub. The stub is
// built without exceptions; the library's few throw sites (allocation
// failure, impossible string lengths) end the process instead, so the
// linker never pulls in the unwinder, type information and locale code that
// would triple the executable's size.
#include <cstdlib>
#include <new>
#include <string>

// The library's prebuilt std::string was compiled with exceptions; an
// instantiation of our own, built without them, takes its place.
template class std::basic_string<char>;

namespace std {
void __throw_length_error(const char*) { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_bad_function_call() { abort(); }
}  // namespace std

void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) std::abort();
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// The runtime's default handler of math errors prints a message table the
// stub never shows (it has no console): errors keep the functions' own
// results, as they would with the handler's default answer.
extern "C" int __cdecl _matherr(struct _exception*) { return 0; }
