// The containers' allocation entry points: the runtime heap, unchanged.
#include "memory/memory.h"

#include <cstdlib>

void* nxMalloc(unsigned int size) { return std::malloc(size); }

void* nxRealloc(void* ptr, unsigned int size) { return std::realloc(ptr, size); }

void nxFree(void* ptr) { std::free(ptr); }
