#include "numeric/reference/merge_sort.h"

#include <cstring>

#include "host/storage.h"

void merge_runs(const char* left, const char* left_end, const char* right, const char* right_end,
                char* out, std::uint64_t elem_size, less_fn less) {
  while (left < left_end && right < right_end) {
    // The right element goes first only when strictly less: stability.
    if (less(right, left)) {
      std::memcpy(out, right, elem_size);
      right += elem_size;
    } else {
      std::memcpy(out, left, elem_size);
      left += elem_size;
    }
    out += elem_size;
  }
  if (left < left_end) std::memcpy(out, left, static_cast<std::size_t>(left_end - left));
  if (right < right_end) std::memcpy(out, right, static_cast<std::size_t>(right_end - right));
}

void merge_sort(void* base, std::uint64_t count, std::uint64_t elem_size, less_fn less) {
  if (count < 2) return;  // already sorted; nothing to merge
  // Byte offsets are 64-bit so that no element count the host can pass overflows them.
  const std::uint64_t total = count * elem_size;
  char* scratch = static_cast<char*>(host_alloc(total));
  char* src = static_cast<char*>(base);
  char* dst = scratch;
  for (std::uint64_t width = elem_size;; width *= 2) {
    for (std::uint64_t off = 0; off < total; off += 2 * width) {
      if (total - off > width) {
        const std::uint64_t right_end = (total - off - width > width) ? off + 2 * width : total;
        merge_runs(src + off, src + off + width, src + off + width, src + right_end, dst + off,
                   elem_size, less);
      } else {
        std::memcpy(dst + off, src + off, static_cast<std::size_t>(total - off));
      }
    }
    if (2 * width >= total) break;
    char* t = src;
    src = dst;
    dst = t;
  }
  if (dst == scratch) std::memcpy(base, scratch, static_cast<std::size_t>(total));
  host_free(scratch);
}
