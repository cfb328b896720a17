// select_rank on arbitrary arrays and ranks. Without NaN the chosen element
// must have the requested rank in a reference order; with NaN (no order at
// all) it must still terminate with an index in range. Always: the
// caller's array is untouched, out-of-range ranks give -1 with one console
// line, and every scratch block is released.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "numeric/reference/select.h"
#include "numeric/select.h"

namespace {

// Elements of 8 bytes (a double) or 24 bytes (a double key and a payload),
// so that element addressing is exercised beyond the plain case.
constexpr std::size_t MAX_COUNT = 600;

struct wide {
  double key;
  std::uint64_t payload[2];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const std::uint8_t mode = in.byte();
  const std::int32_t count = static_cast<std::int32_t>(in.byte() | (in.byte() << 8)) %
                             static_cast<std::int32_t>(MAX_COUNT + 1);
  // Mostly in range, sometimes just outside it or negative.
  std::int32_t rank = static_cast<std::int32_t>(in.byte() | (in.byte() << 8));
  if ((mode & 0x0e) != 0)
    rank = count > 0 ? rank % count : 0;
  else
    rank = rank % (count + 5) - 2;
  if ((mode & 0x30) == 0x30 && count > 0)
    rank = (mode & 0x40) != 0 ? count - 1 - rank % 3 : rank % 3;
  rank = std::clamp(rank, -2, count + 2);

  const std::vector<double> keys = in.values(static_cast<std::size_t>(count));
  const bool use_wide = (mode & 1) != 0;
  std::vector<wide> wides(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) wides[i] = {keys[i], {i, ~i}};
  const void* base = use_wide ? static_cast<const void*>(wides.data()) : keys.data();
  const std::size_t elem = use_wide ? sizeof(wide) : sizeof(double);
  const std::vector<double> keys_before = keys;
  const std::vector<wide> wides_before = wides;

  std::int32_t k = -3;
  const auto o =
      standin::within_call([&] { k = select_rank(base, rank, count, elem, less_double); });
  fuzz::require(o.ok, "select_rank ended the call", o.error);
  fuzz::require_clean_storage(o);
  fuzz::require(o.blocks_left == 0, "select_rank left a block live");
  fuzz::require(fuzz::same_bytes(keys, keys_before) && fuzz::same_bytes(wides, wides_before),
                "select_rank changed the caller's array");

  if (count <= 0 || rank < 0 || rank >= count) {
    fuzz::require(k == -1, "out-of-range rank did not give -1");
    fuzz::require_lines(o.console, {"Cannot select item of rank "}, "console");
    fuzz::require(std::count(o.console.begin(), o.console.end(), '\n') == 1,
                  "not one console line");
    return 0;
  }
  fuzz::require(o.console.empty(), "console output for a rank in range", o.console);
  fuzz::require(k >= 0 && k < count, "index out of range", std::to_string(k));
  if (std::none_of(keys.begin(), keys.end(), [](double v) { return std::isnan(v); })) {
    std::vector<double> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    // Any element equal to the reference's element of that rank will do
    // (-0 and +0 are equal here, as they are to the comparator).
    fuzz::require(keys[static_cast<std::size_t>(k)] == sorted[static_cast<std::size_t>(rank)],
                  "element does not have the requested rank");
  }
  return 0;
}
