// invert_matrix on any square matrix of hostile values: it must not crash,
// must leave the input unchanged, must release everything it allocated
// (on the singular path too), and may write only its whole-line diagnostics.
// The local fits' solve (gauss_jordan) must give the same inverse, bit for
// bit (NaN for NaN), and the same line.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "numeric/matrix.h"
#include "numeric/reference/polyfit.h"
#include "numeric/solve.h"

namespace {

constexpr std::int32_t MAX_N = 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const std::int32_t n = 1 + static_cast<std::int32_t>(in.upto(MAX_N - 1));
  const std::vector<double> values = in.values(static_cast<std::size_t>(n * n));
  std::vector<double*> rows(static_cast<std::size_t>(n));
  std::vector<double> cells = values;
  for (std::int32_t r = 0; r < n; ++r) rows[static_cast<std::size_t>(r)] = cells.data() + r * n;

  fuzz::stderr_capture capture;
  bool inverted = false;
  std::vector<double> reference;
  const auto o = standin::within_call([&] {
    double** inv = invert_matrix(rows.data(), n);
    inverted = inv != nullptr;
    for (std::int32_t r = 0; inv != nullptr && r < n; ++r)
      reference.insert(reference.end(), inv[r], inv[r] + n);
    if (inv != nullptr) free_rows(inv, n);
  });
  const std::string err = capture.finish();

  fuzz::stderr_capture kernel_capture;
  std::vector<double> kernel;
  const auto k = standin::within_call([&] {
    double** work = alloc_rows(n, n);
    double** inv = alloc_rows(n, n);
    const fit_trouble t = gauss_jordan(rows.data(), work, inv, n);
    write_trouble(t);
    for (std::int32_t r = 0; !t.singular && r < n; ++r)
      kernel.insert(kernel.end(), inv[r], inv[r] + n);
    free_rows(work, n);
    free_rows(inv, n);
  });
  const std::string kernel_err = kernel_capture.finish();
  fuzz::require(k.ok && k.blocks_left == 0, "gauss_jordan ended the call or left a block");
  fuzz::require(kernel_err == err, "gauss_jordan wrote other lines than invert_matrix", kernel_err);
  fuzz::require(fuzz::same_values(kernel, reference),
                "gauss_jordan's inverse is not invert_matrix's");
  fuzz::require(o.ok, "invert_matrix ended the call", o.error);
  fuzz::require_clean_storage(o);
  fuzz::require(o.blocks_left == 0, "invert_matrix left a block live");
  fuzz::require_diagnostics(err);
  fuzz::require(inverted || err == "Error: Singular matrix inversion attempted.\n",
                "null inverse without its one diagnostic line", err);
  fuzz::require(fuzz::same_bytes(cells, values), "invert_matrix changed its input");
  return 0;
}
