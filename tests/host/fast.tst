## 'Method' 'fast' against the direct sums: the same fits within rounding
## (1e-10 of max|y| up to degree 2, 1e-9 at 3 and 4), the same failed and
## lowered fits, and the same bits wherever it must keep the direct sums or
## the call is only split or ordered differently.

## Both methods' results for the same arguments; the values within the
## degree's bound, the failed and lowered fits the same.
%!function [fast, direct, fi, di] = both (x, y, deg, args, label)
%!  [direct, di] = quibra (x, y, args{:}, "Method", "direct");
%!  [fast, fi] = quibra (x, y, args{:}, "Method", "fast");
%!  assert (isequal (fi.failed, di.failed), "%s: failed fits differ", label);
%!  if (isfield (di, "lowered"))
%!    assert (isequal (fi.lowered, di.lowered), "%s: lowered fits differ", label);
%!  endif
%!  scale = max (abs (y(isfinite (y))));
%!  if (numel (args) >= 5 && ! ischar (args{4}))  # the nodes form: its ordinates
%!    scale = max (abs (args{5}(isfinite (args{5}))));
%!  endif
%!  bound = 1e-10;
%!  if (deg > 2) bound = 1e-9; endif
%!  ok = ! di.failed;
%!  err = max (abs (fast(ok) - direct(ok))(:)) / scale;
%!  assert (isempty (err) || err <= bound, "%s: fast differs by %g of max|y|", label, err);
%!endfunction

%!function same_bits (a, b, label)
%!  assert (isequal (typecast (a(:), "uint64"), typecast (b(:), "uint64")), label);
%!endfunction

## Spans from a window of about 300 points to all of them, every degree,
## epoch seconds: smooths at the data, and (the wide spans, whose direct
## sums are slow) at a few queries among them, at data points too.
%!test
%! rand ("seed", 21); randn ("seed", 21);
%! n = 50000;
%! x = 1.7e9 + 1e6 * rand (n, 1);
%! y = sin ((x - 1.7e9) / 1e5) + 0.3 * randn (n, 1);
%! xq = [sort(1.7e9 + 1e6 * rand (400, 1)); x(1:250:end)];
%! for deg = 0:4
%!   both (x, y, deg, {0.006, 0, deg}, sprintf ("f 0.006, degree %d", deg));
%!   for f = [0.1 0.4 1]
%!     both (xq, [], deg, {f, 0, deg, x, y}, sprintf ("nodes, f %g, degree %d", f, deg));
%!   endfor
%! endfor

## Date numbers: robust passes, prior weights, 'Delta', 'Missing' 'omit'.
%!test
%! rand ("seed", 22); randn ("seed", 22);
%! n = 20000;
%! x = 738000 + 365 * rand (n, 1);
%! y = cos ((x - 738000) / 40) + 0.2 * randn (n, 1);
%! y(1:97:end) = y(1:97:end) + 5;
%! w = 0.2 + rand (n, 1);
%! w(5:50:end) = 0;
%! ym = y;
%! ym(3:61:end) = NaN;
%! for deg = [1 2 4]
%!   label = sprintf ("dates, degree %d", deg);
%!   both (x, y, deg, {0.03, 1, deg, "MaxPasses", 4}, [label ", robust"]);
%!   both (x, y, deg, {0.03, 0, deg, "Weights", w}, [label ", weights"]);
%!   both (x, y, deg, {0.03, 1, deg, "Weights", w, "MaxPasses", 3}, [label ", robust, weights"]);
%!   both (x, y, deg, {0.05, 0, deg, "Delta", 0.5}, [label ", delta"]);
%!   both (x, ym, deg, {0.03, 0, deg, "Missing", "omit"}, [label ", omit"]);
%! endfor

## Heavy ties: 400 and 40 distinct abscissae, so windows hold whole tie
## groups, a few groups or one; with and without 'Fallback' 'lower'.
%!test
%! rand ("seed", 23); randn ("seed", 23);
%! n = 20000;
%! for levels = [400 40]
%!   x = 1e6 + round (levels * rand (n, 1));
%!   y = sqrt (x - 1e6) + randn (n, 1);
%!   for deg = [0 2 3]
%!     for f = [0.015 0.05]
%!       for fallback = {"none", "lower"}
%!         label = sprintf ("%d ties, f %g, degree %d, %s", levels, f, deg, fallback{1});
%!         args = {f, 0, deg, "Fallback", fallback{1}, "Diagnostics", "off"};
%!         both (x, y, deg, args, label);
%!       endfor
%!     endfor
%!   endfor
%! endfor

## Queries between the data and beyond both ends (fits anchored outside
## their span), in the nodes form.
%!test
%! rand ("seed", 24); randn ("seed", 24);
%! n = 30000;
%! x = 1.7e9 + 1e6 * sort (rand (n, 1));
%! y = exp (-((x - 1.7e9 - 5e5) / 2e5) .^ 2) + 0.1 * randn (n, 1);
%! xq = [1.7e9 - [3e5 1e4 1]'; (x(1:250:end - 1) + x(2:250:end)) / 2; x(end) + [1 1e4 3e5]'];
%! for deg = 0:4
%!   both (xq, [], deg, {0.02, 0, deg, x, y, "Diagnostics", "off"}, ...
%!         sprintf ("between and beyond, degree %d", deg));
%! endfor

## Bands: the standard errors within 1e-8, relative.
%!test
%! rand ("seed", 25); randn ("seed", 25);
%! n = 20000;
%! x = 738000 + 365 * rand (n, 1);
%! y = sin ((x - 738000) / 30) + 0.3 * randn (n, 1);
%! w = 0.5 + rand (n, 1);
%! for deg = [1 2 3]
%!   for args = {{0.02, 0, deg, "Intervals", "confidence"}, ...
%!               {0.02, 1, deg, "Intervals", "prediction", "MaxPasses", 2}, ...
%!               {0.02, 0, deg, "Intervals", "confidence", "Weights", w}}
%!     label = sprintf ("bands, degree %d", deg);
%!     [~, ~, fi, di] = both (x, y, deg, args{1}, label);
%!     err = max (abs (fi.se - di.se) ./ di.se);
%!     assert (err <= 1e-8, "%s: se differs by %g, relative", label, err);
%!     assert ([fi.sigma fi.enp fi.dof], [di.sigma di.enp di.dof], -1e-8);
%!   endfor
%! endfor

## Several signals: each column the bits of its own fast call.
%!test
%! rand ("seed", 26); randn ("seed", 26);
%! n = 20000;
%! x = 1.7e9 + 1e6 * rand (n, 1);
%! Y = [sin((x - 1.7e9) / 1e5), cos((x - 1.7e9) / 3e4), x / 1e9] + 0.2 * randn (n, 3);
%! for robust = [0 1]
%!   args = {0.02, robust, 2, "MaxPasses", 3};
%!   all_of = quibra (x, Y, args{:}, "Method", "fast");
%!   for c = 1:3
%!     label = sprintf ("column %d, robust %d", c, robust);
%!     same_bits (all_of(:,c), quibra (x, Y(:,c), args{:}, "Method", "fast"), label);
%!     both (x, Y(:,c), 2, args, label);
%!   endfor
%! endfor

## The automatic span: the same span chosen.
%!test
%! rand ("seed", 27); randn ("seed", 27);
%! n = 20000;
%! x = 738000 + 365 * rand (n, 1);
%! y = sin ((x - 738000) / 50) + 0.3 * randn (n, 1);
%! [~, ~, fi, di] = both (x, y, 2, {"Span", "aicc", "SpanRange", [0.015 0.1]}, "aicc");
%! assert (fi.span, di.span);

## Threads and the queries' order change nothing: the very bits.
%!test
%! rand ("seed", 28); randn ("seed", 28);
%! n = 20000;
%! x = 1.7e9 + 1e6 * rand (n, 1);
%! y = sin ((x - 1.7e9) / 1e5) + 0.3 * randn (n, 1);
%! xq = 1.7e9 + 1.2e6 * rand (3000, 1) - 1e5;
%! for deg = [1 3]
%!   args = {0.03, 0, deg, x, y, "Method", "fast"};
%!   want = quibra (xq, [], args{:}, "Threads", 1);
%!   for threads = [2 3]
%!     same_bits (quibra (xq, [], args{:}, "Threads", threads), want, ...
%!                sprintf ("degree %d, %d threads", deg, threads));
%!   endfor
%!   p = randperm (numel (xq));
%!   got = zeros (size (xq));
%!   got(p) = quibra (xq(p), [], args{:});
%!   same_bits (got, want, sprintf ("degree %d, shuffled queries", deg));
%!   plain = quibra (x, y, 0.02, 1, deg, "Method", "fast", "MaxPasses", 2, "Threads", 1);
%!   same_bits (quibra (x, y, 0.02, 1, deg, "Method", "fast", "MaxPasses", 2, "Threads", 3), ...
%!              plain, sprintf ("degree %d, robust, 3 threads", deg));
%! endfor

## Windows under 256 points, and degree 5, keep the direct sums.
%!test
%! rand ("seed", 29); randn ("seed", 29);
%! n = 20000;
%! x = 1.7e9 + 1e6 * rand (n, 1);
%! y = sin ((x - 1.7e9) / 1e5) + 0.3 * randn (n, 1);
%! for args = {{255 / n, 0, 2}, {255 / n, 1, 4}, {0.02, 0, 5}, {0.05, 1, 5, "MaxPasses", 2}}
%!   same_bits (quibra (x, y, args{1}{:}, "Method", "fast"), quibra (x, y, args{1}{:}), ...
%!              sprintf ("f %g, degree %d", args{1}{1}, args{1}{3}));
%! endfor

## Clusters far narrower than their gaps, and two groups far apart: a
## window's moments then cover points the fit barely sees, and the fits
## too sensitive for their rounding are made from direct sums instead.
## Values, bands and the unstable fits agree with the direct ones.
%!test
%! rand ("seed", 31); randn ("seed", 31);
%! n = 600;
%! for width = [1e-4 1e-6]
%!   x = sort ([0.2 0.5 0.8](randi (3, n, 1))' + width * rand (n, 1));
%!   y = sin (6 * x) + 0.1 * randn (n, 1);
%!   for deg = 0:4
%!     for f = [0.45 0.7]
%!       args = {f, 0, deg, "Intervals", "confidence"};
%!       label = sprintf ("clusters %g wide, f %g, degree %d", width, f, deg);
%!       [~, ~, fi, di] = both (x, y, deg, args, label);
%!       assert (isequal (fi.unstable, di.unstable), "%s: unstable fits differ", label);
%!       ok = ! di.failed & ! di.unstable;
%!       assert (fi.se(ok), di.se(ok), -1e-8);
%!     endfor
%!   endfor
%! endfor
%! x = sort ([738000 + 1e-5 * rand(300, 1); 1.7e9 + 1e-5 * rand(300, 1)]);
%! y = cos (x) + 0.1 * randn (600, 1);
%! for deg = [1 4]
%!   both (x, y, deg, {0.6, 0, deg, "Fallback", "lower"}, sprintf ("far groups, degree %d", deg));
%! endfor
