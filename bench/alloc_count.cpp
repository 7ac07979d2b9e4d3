// Counts the heap allocations of this thread, so that a benchmark reports
// allocations per item: a figure that machine load does not change. Once
// the interpreter is started here, its own allocations count too (objects,
// a dict's table each time it grows), through allocators that wrap its own.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdlib>
#include <new>

#include "bench/BenchUtil.h"

namespace {

thread_local long long t_allocations = 0;

// The interpreter's allocators of its object and memory domains, wrapped.
// Its raw domain is left alone: the object allocator takes large blocks
// from it, which would count twice.
PyMemAllocatorEx g_object;
PyMemAllocatorEx g_memory;

template <PyMemAllocatorEx* Inner>
void* counted_malloc(void*, size_t n) {
  ++t_allocations;
  return Inner->malloc(Inner->ctx, n);
}
template <PyMemAllocatorEx* Inner>
void* counted_calloc(void*, size_t count, size_t n) {
  ++t_allocations;
  return Inner->calloc(Inner->ctx, count, n);
}
template <PyMemAllocatorEx* Inner>
void* counted_realloc(void*, void* p, size_t n) {
  ++t_allocations;
  return Inner->realloc(Inner->ctx, p, n);
}
template <PyMemAllocatorEx* Inner>
void counted_free(void*, void* p) {
  Inner->free(Inner->ctx, p);
}

template <PyMemAllocatorEx* Inner>
void wrap(PyMemAllocatorDomain domain) {
  PyMem_GetAllocator(domain, Inner);
  PyMemAllocatorEx counting{nullptr, counted_malloc<Inner>, counted_calloc<Inner>, counted_realloc<Inner>,
                            counted_free<Inner>};
  PyMem_SetAllocator(domain, &counting);
}

}  // namespace

long long hx_bench_allocations() { return t_allocations; }

void hx_bench_start_python() {
  if (Py_IsInitialized()) return;
  Py_InitializeEx(0);
  wrap<&g_object>(PYMEM_DOMAIN_OBJ);
  wrap<&g_memory>(PYMEM_DOMAIN_MEM);
}

void* operator new(std::size_t n) {
  ++t_allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  ++t_allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, std::nothrow_t const&) noexcept {
  ++t_allocations;
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept {
  ++t_allocations;
  return std::malloc(n == 0 ? 1 : n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { std::free(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { std::free(p); }
