// The few pieces of the C++ runtime the column layer's containers call,
// defined here so that the module needs nothing but libc: allocation through
// malloc, and the containers' error paths, which cannot occur in code built
// without exceptions but for exhausted memory, ending the process as
// -fno-exceptions code does.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    std::abort();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace std {
const nothrow_t nothrow{};
[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
}  // namespace std
