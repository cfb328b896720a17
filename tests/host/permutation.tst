## The same data in another row order give the same smooth: to the bit
## where no two abscissae are tied, and within rounding (the sums over tied
## points run in another order) where many are, whatever the options. A
## window that holds part of a group of tied points takes all of them when
## 'Fallback' 'lower' averages them.

## The call on rows permuted by p (prior weights with them), mapped back
## to the original order.
%!function r = permuted (x, y, p, args)
%!  k = find (cellfun (@(a) ischar (a) && strcmp (a, "Weights"), args));
%!  if (! isempty (k))
%!    args{k + 1} = args{k + 1}(p);
%!  endif
%!  r = zeros (size (x));
%!  r(p) = quibra (x(p), y(p), args{:});
%!endfunction

%!function check_order (x, y, args, label)
%!  want = quibra (x, y, args{:});
%!  for trial = 1:3
%!    p = randperm (numel (x))';
%!    got = permuted (x, y, p, args);
%!    err = max (abs (got - want)) / max (abs (y));
%!    assert (err <= 1e-12, "%s: shuffled rows differ by %g of max|y|", label, err);
%!    assert (all ((got == realmax) == (want == realmax)), "%s: failed fits differ", label);
%!  endfor
%!endfunction

## Heavy ties: integers, halves, four abscissae, the issue's 20 points at
## each of 1 to 10; prior weights, robust passes, Delta, both fallbacks.
%!test
%! rand ("seed", 11); randn ("seed", 11);
%! n = 200;
%! sets = {round(10 * rand(n, 1)), round(20 * rand(n, 1)) / 2, ...
%!         ceil(4 * rand(n, 1)), repmat((1:10)', 20, 1)};
%! w = 0.5 + rand (n, 1);
%! for s = 1:numel (sets)
%!   x = sets{s};
%!   y = x + randn (n, 1);
%!   y(7) = y(7) + 20;            # an outlier for the robust passes
%!   for fallback = {"none", "lower"}
%!     for f = [0.05 0.2 0.5]
%!       common = {f, 0, 1, "Fallback", fallback{1}, "Diagnostics", "off"};
%!       label = sprintf ("set %d, f %g, %s", s, f, fallback{1});
%!       check_order (x, y, common, label);
%!       common{2} = 1;
%!       check_order (x, y, common, [label ", robust"]);
%!       check_order (x, y, [common, {"Weights", w}], [label ", robust, weights"]);
%!       check_order (x, y, [common, {"Delta", 1.5}], [label ", robust, delta"]);
%!     endfor
%!   endfor
%! endfor

## The issue's case: each value at x = 5 is the mean of all 20 points there,
## and a query halfway between two tied groups (its window's points all at
## its two ends) the line through both groups' means.
%!test
%! randn ("seed", 12);
%! x = repmat ((1:10)', 20, 1);
%! y = x + randn (200, 1);
%! r = quibra (x, y, 0.05, 0, 1, "Fallback", "lower");
%! assert (r(x == 5), repmat (mean (y(x == 5)), 20, 1), 1e-14);
%! m = quibra (5.5, 0, 0.05, 0, 1, x, y, "Fallback", "lower");
%! assert (m, (mean (y(x == 5)) + mean (y(x == 6))) / 2, 1e-14);

## No ties: the very bits, plain and robust, with weights and Delta.
%!test
%! rand ("seed", 13); randn ("seed", 13);
%! x = rand (300, 1);
%! y = sin (6 * x) + 0.2 * randn (300, 1);
%! p = randperm (300)';
%! for args = {{0.2}, {0.3, 1, 1}, {0.1, 1, 2, "Weights", 0.5 + rand(300, 1)}, ...
%!             {0.2, 1, 2, "Delta", 0.02}}
%!   want = quibra (x, y, args{1}{:});
%!   got = permuted (x, y, p, args{1});
%!   assert (isequal (typecast (got, "uint64"), typecast (want, "uint64")));
%! endfor

## With 'Delta', queries tied with a fit take its results, also those that
## come before it in order: one value per abscissa, even next to a failed
## fit (which interpolation would spread).
%!test
%! rand ("seed", 11); randn ("seed", 11);
%! x = round (10 * rand (200, 1));
%! y = x + randn (200, 1);
%! [r, info] = quibra (x, y, 0.2, 0, 1, "Delta", 1.5, "Diagnostics", "off");
%! assert (any (info.failed));
%! for v = unique (x)'
%!   assert (numel (unique (r(x == v))), 1);
%! endfor
