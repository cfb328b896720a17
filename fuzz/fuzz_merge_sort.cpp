// merge_sort against std::stable_sort on arbitrary arrays. Elements are
// either bare doubles (stability shows in the bit patterns of -0 and +0,
// which compare equal) or records with a double key and their input
// position. Without NaN the result must equal std::stable_sort's bit for
// bit; NaN leaves no order to compare against, so then the result need
// only be a permutation of the input. Every scratch block is released.
// Without NaN, the radix sort of pointers must give merge_sort's order.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "numeric/radix_sort.h"
#include "numeric/reference/merge_sort.h"

namespace {

constexpr std::size_t MAX_COUNT = 1200;

struct keyed {
  double key;
  std::uint64_t position;
};

template <typename T, typename Less>
void check(std::vector<T> items, bool has_nan, Less less) {
  std::vector<T> reference = items;
  const auto o =
      standin::within_call([&] { merge_sort(items.data(), items.size(), sizeof(T), less_double); });
  fuzz::require(o.ok, "merge_sort ended the call", o.error);
  fuzz::require_clean_storage(o);
  fuzz::require(o.blocks_left == 0, "merge_sort left a block live");
  if (!has_nan) {
    std::stable_sort(reference.begin(), reference.end(), less);
    fuzz::require(fuzz::same_bytes(items, reference), "differs from std::stable_sort");
    return;
  }
  // A permutation: the same multiset of bit patterns.
  auto by_bits = [](const T& a, const T& b) { return std::memcmp(&a, &b, sizeof(T)) < 0; };
  std::sort(items.begin(), items.end(), by_bits);
  std::sort(reference.begin(), reference.end(), by_bits);
  fuzz::require(fuzz::same_bytes(items, reference), "not a permutation of the input");
}

void check_radix(const std::vector<double>& keys) {
  std::vector<const double*> merged(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) merged[i] = &keys[i];
  std::vector<const double*> radixed = merged;
  const auto o = standin::within_call([&] {
    merge_sort(merged.data(), merged.size(), sizeof(const double*), less_double_ptr);
    sort_double_ptrs(radixed.data(), radixed.size());
  });
  fuzz::require(o.ok, "a sort ended the call", o.error);
  fuzz::require(o.blocks_left == 0, "a sort left a block live");
  fuzz::require(merged == radixed, "sort_double_ptrs differs from merge_sort");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const std::uint8_t mode = in.byte();
  const std::size_t count = (in.byte() | (in.byte() << 8)) % (MAX_COUNT + 1);
  const std::vector<double> keys = in.values(count);
  const bool has_nan =
      std::any_of(keys.begin(), keys.end(), [](double v) { return std::isnan(v); });
  if (!has_nan) check_radix(keys);
  if ((mode & 1) != 0) {
    check(keys, has_nan, [](double a, double b) { return a < b; });
  } else {
    std::vector<keyed> items(count);
    for (std::size_t i = 0; i < count; ++i) items[i] = {keys[i], i};
    check(items, has_nan, [](const keyed& a, const keyed& b) { return a.key < b.key; });
  }
  return 0;
}
