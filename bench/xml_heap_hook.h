// A process-wide count of the bytes held in the C heap, for the XML benchmarks: malloc, calloc,
// realloc, free and the aligned forms are wrapped around glibc's own entry points, so every
// library in the process (the standard library's operator new included) is counted. Linux only.
#ifndef NXUTIL_BENCH_XML_HEAP_HOOK_H
#define NXUTIL_BENCH_XML_HEAP_HOOK_H

#include <atomic>
#include <cstddef>

namespace xmlbench {

/// Bytes currently allocated (usable sizes), over the whole process.
long long heapInUse();

}  // namespace xmlbench

#endif
