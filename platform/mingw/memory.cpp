/*
 * The allocation functions the device code uses, for the mingw-w64 build. The compiler's
 * own nothrow new catches an exception from the throwing one, which drags the whole
 * exception runtime into a program that never throws; these go straight to the C runtime
 * that Windows itself provides.
 */
#include <new>
#include <stdlib.h>

void* operator new(size_t size, const std::nothrow_t&) throw() { return malloc(size != 0 ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) throw() { return malloc(size != 0 ? size : 1); }
void operator delete(void* block) throw() { free(block); }
void operator delete[](void* block) throw() { free(block); }
