// Call-scoped storage from the host, for every layer of the module. It
// names no host array, so the smoother and the kernels use it without the
// host's own header.
//
// host_alloc hands out blocks from the host's call-scoped allocator, so
// anything still held when a call ends (normally or through an error) is
// reclaimed by the host. Never release these blocks from a destructor: on
// the error path the host has already taken them back.
#ifndef QUIBRA_HOST_STORAGE_H
#define QUIBRA_HOST_STORAGE_H

#include <cstdint>

// A fresh block of `bytes` bytes from the host (a request for none gets a
// block of its own too). Never returns null: on failure it reports
// "Alzheimer's error" on standard error and ends the call with "Out of
// memory." (ending the process would take the user's whole session and
// unsaved work with it).
void* host_alloc(std::uint64_t bytes);

// Releases a block from host_alloc; null is ignored.
void host_free(void* p);

// Typed convenience over host_alloc: `count` elements of T. T may be a
// pointer (to a record too): an array of pointers is sized by the pointer.
template <typename T>
T* host_alloc_array(std::int64_t count) {
  const std::uint64_t size = sizeof(T);  // NOLINT(bugprone-sizeof-expression)
  return static_cast<T*>(host_alloc(static_cast<std::uint64_t>(count) * size));
}

#endif
