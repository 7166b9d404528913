/*
 * The allocation functions of the device program built with GNU tools: straight onto
 * coredll's heap (malloc and free), as nothing here throws. A request for zero bytes still
 * gets a block of its own, as C++ requires of new.
 */
#include <new>

#include "platform/platform.h"

namespace std {
const nothrow_t nothrow = nothrow_t();
}  // namespace std

void* operator new(size_t size, const std::nothrow_t&) throw() { return malloc(size != 0 ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) throw() { return malloc(size != 0 ? size : 1); }
void operator delete(void* block) throw() { free(block); }
void operator delete[](void* block) throw() { free(block); }
