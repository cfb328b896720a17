## Values against an independent solve of the same windows (qr_smooth: QR
## of the centred, scaled design), at sizes and offsets users smooth: large
## data reaching zero with narrow windows, time stamps far from zero, the
## nodes form between and beyond the data, robust calls and bands.

## Largest error relative to max|y| (or to the value, where an
## extrapolation lies beyond that), in the tolerance of each degree.
%!function check (got, want, y, degree, what)
%!  tol = [1e-11 1e-11 1e-10 1e-10 1e-9 1e-7](degree);
%!  ok = ! isnan (want);
%!  assert (any (ok), "%s: nothing to compare", what);
%!  assert (all (got(ok) != realmax), "%s: a fit failed", what);
%!  worst = max (abs (got(ok) - want(ok)) ./ max (abs (want(ok)), max (abs (y))));
%!  assert (worst <= tol, "%s, degree %d: error %.3g of max|y|", what, degree, worst);
%!endfunction

## n = 10^5 and 10^6 on [0, 1], windows of 100 points, every degree from
## 1 to 6 (at 10^6 a sample of the points, and both ends).
%!test
%! randn ("seed", 1); rand ("seed", 1);
%! for n = [1e5 1e6]
%!   x = rand (n, 1);
%!   y = sin (2 * pi * x) + 0.1 * randn (n, 1);
%!   [~, o] = sort (x);
%!   pick = unique ([o(1:3); o(end-2:end); randperm(n, 400)']);
%!   for degree = [1 2 3 4 6]
%!     got = quibra (x, y, 100 / n, 0, degree);
%!     want = qr_smooth (x, y, 100 / n, degree, x(pick));
%!     check (got(pick), want, y, degree, sprintf ("n = %d", n));
%!   endfor
%! endfor

## Abscissae far from zero against their spread: date numbers, epoch
## seconds, years, large negative values; with 2 to 60 points a window.
%!test
%! rand ("seed", 2); randn ("seed", 2);
%! n = 3000;
%! u = rand (n, 1);
%! y = cos (9 * u) + 0.2 * randn (n, 1);
%! for x = {738000 + 365 * u, 1.7e9 + 3.2e7 * u, 1900 + 125 * u, -4.2e6 - 50 * u}
%!   for f = [0.004 0.02]
%!     for degree = [1 2 3 4 6]
%!       if (floor (n * f) <= degree + 1)
%!         continue;
%!       endif
%!       got = quibra (x{1}, y, f, 0, degree);
%!       check (got, qr_smooth (x{1}, y, f, degree, x{1}), y, degree, sprintf ("x near %g", x{1}(1)));
%!     endfor
%!   endfor
%! endfor

## The nodes form at queries between and beyond the data (up to ten
## windows' widths), near zero and far.
%!test
%! rand ("seed", 3); randn ("seed", 3);
%! for offset = [0 738000]
%!   nx = offset + sort (rand (2000, 1));
%!   ny = exp (-nx + offset) + 0.05 * randn (2000, 1);
%!   q = offset + linspace (-0.3, 1.3, 777)';
%!   for degree = [1 2 3 4 6]
%!     got = quibra (q, q, 0.03, 0, degree, nx, ny);
%!     check (got, qr_smooth (nx, ny, 0.03, degree, q), ny, degree, "nodes");
%!   endfor
%! endfor

## Robust calls against the same solve with the final weights.
%!test
%! rand ("seed", 4); randn ("seed", 4);
%! n = 20000;
%! x = 1.7e9 + 86400 * rand (n, 1);
%! y = sin (x / 5000) + 0.2 * randn (n, 1);
%! y(1:97:end) += 8;
%! for degree = [1 2 3]
%!   [got, info] = quibra (x, y, 60 / n, 1, degree);
%!   assert (info.outcome, "converged");
%!   check (got, qr_smooth (x, y, 60 / n, degree, x, info.weights), y, degree, "robust");
%! endfor

## A band's standard error over sigma is the norm of the fit's row of the
## smoother matrix; with prior weights, the row weighted by them.
%!test
%! rand ("seed", 5); randn ("seed", 5);
%! n = 5000;
%! x = 738000 + 30 * rand (n, 1);
%! y = sin (x / 2) + 0.3 * randn (n, 1);
%! w = 0.5 + rand (n, 1);
%! for degree = [1 2 3]
%!   for given = {[], w}
%!     opts = {"Intervals", "confidence"};
%!     ww = ones (n, 1);
%!     if (! isempty (given{1}))
%!       opts(end+1:end+2) = {"Weights", w};
%!       ww = w;
%!     endif
%!     [got, info] = quibra (x, y, 0.01, 0, degree, opts{:});
%!     [want, lnorm2] = qr_smooth (x, y, 0.01, degree, x, ww);
%!     check (got, want, y, degree, "band values");
%!     rel = abs (info.se / info.sigma - sqrt (lnorm2)) ./ sqrt (lnorm2);
%!     assert (max (rel) <= 1e-9, "degree %d: se / sigma off by %.3g", degree, max (rel));
%!   endfor
%! endfor
