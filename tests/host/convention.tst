## 'Convention' 'lowess' against R's lowess, run by Rscript on the same data
## (r_lowess.m): R's data sets and noisy data with outliers, ties, offsets
## far from zero and tiny counts, at several spans, iteration counts and
## deltas. Every figure is the largest difference relative to max|y|.

%!function d = apart (a, b, y)
%!  d = max (abs (a - b)) / max (abs (y));
%!endfunction

## n noisy points of a sine; every 17th is 4 off; x rounded to `step`
## (ties) when step > 0, then moved by `offset`.
%!function xy = noisy (n, seed, step, offset)
%!  rand ("seed", seed);
%!  randn ("seed", seed);
%!  x = 10 * rand (n, 1);
%!  if (step > 0)
%!    x = step * round (x / step);
%!  endif
%!  y = sin (x) + 0.3 * randn (n, 1);
%!  k = (1:17:n)';
%!  y(k) += 4 * (-1) .^ k;
%!  xy = [x + offset, y + offset / 1e3];
%!endfunction

## The call that stands for lowess (x, y, f = F, iter = ITER, delta = D),
## D < 0 for R's default delta.
%!function v = ours (x, y, f, iter, d)
%!  args = {"Convention", "lowess"};
%!  if (iter > 0)
%!    args = [args, {"MaxPasses", iter}];
%!  endif
%!  if (d >= 0)
%!    args = [args, {"Delta", d}];
%!  endif
%!  v = quibra (x, y, f, iter > 0, args{:});
%!endfunction

%!test
%! data = {"cars", "pressure", "women", "faithful", "trees", "mtcars", "swiss", ...
%!         noisy(200, 1, 0, 0), noisy(301, 2, 0.25, 0), noisy(120, 3, 0, 1e6), ...
%!         noisy(2, 4, 0, 0), noisy(3, 5, 0, 0), noisy(6, 6, 0.5, 0)};
%! worst = 0;
%! for k = 1:numel (data)
%!   cases = {};
%!   for f = [2/3 0.3 0.1]
%!     for iter = [0 1 3 5]
%!       for d = [-1 0]
%!         cases(end+1, :) = {f, iter, d};
%!       endfor
%!     endfor
%!   endfor
%!   rargs = cell (rows (cases), 1);
%!   for c = 1:rows (cases)
%!     rargs{c} = sprintf ("f = %.17g, iter = %d", cases{c, 1}, cases{c, 2});
%!     if (cases{c, 3} >= 0)
%!       rargs{c} = [rargs{c} sprintf(", delta = %.17g", cases{c, 3})];
%!     endif
%!   endfor
%!   [x, y, r] = r_lowess (data{k}, rargs);
%!   name = data{k};
%!   if (! ischar (name))
%!     name = sprintf ("%d noisy points", rows (name));
%!   endif
%!   for c = 1:rows (cases)
%!     e = apart (ours (x, y, cases{c, :}), r(:, c), y);
%!     assert (e <= 1e-11, "%s, %s: %.3g of max|y|", name, rargs{c}, e);
%!     worst = max (worst, e);
%!   endfor
%! endfor
%! printf ("    'lowess' against R's lowess: at most %.2g of max|y|\n", worst);

## R's defaults: span 2/3, three reweightings, delta 1% of the range; the
## data's order does not matter, and the weights reported are R's.
%!test
%! xy = noisy (150, 7, 0, 0);
%! [x, y, r] = r_lowess (xy, "");
%! [v, info] = quibra (x, y, [], true, "Convention", "lowess");
%! assert (apart (v, r, y) <= 1e-11);
%! assert (info.passes, 3);
%! assert (any (info.weights == 0) && all (info.weights <= 1));
%! p = randperm (numel (x));
%! assert (quibra (x(p), y(p), [], true, "Convention", "lowess"), v(p));

## The nodes form: at the nodes with 'Delta' 0, the values at the data;
## several signals are each smoothed alone; 'Weights' of 1 change nothing.
%!test
%! xy = noisy (90, 8, 0, 0);
%! x = xy(:, 1);
%! y = xy(:, 2);
%! at = quibra (x, y, 0.4, true, "Convention", "lowess", "Delta", 0);
%! assert (quibra (x, [], 0.4, true, 1, x, y, "Convention", "lowess", "Delta", 0), at);
%! both = quibra (x, [y, 2 * y + 1], 0.4, true, "Convention", "lowess");
%! assert (both(:, 2), quibra (x, 2 * y + 1, 0.4, true, "Convention", "lowess"));
%! assert (quibra (x, y, 0.4, true, "Convention", "lowess", "Weights", ones (90, 1)), ...
%!         quibra (x, y, 0.4, true, "Convention", "lowess"));
%! q = linspace (-1, 11, 7)';
%! v = quibra (q, [], 0.4, false, 1, x, y, "Convention", "lowess");
%! assert (all (isfinite (v)));

## 'native' is the default, bit for bit.
%!test
%! xy = noisy (60, 9, 0, 0);
%! assert (quibra (xy(:, 1), xy(:, 2), 0.3, 1, 2, "Convention", "native"), ...
%!         quibra (xy(:, 1), xy(:, 2), 0.3, 1, 2));

%!error <Convention must be 'native' or 'lowess'.> quibra ((1:9)', (1:9)', "Convention", "R")
%!error <'Method' 'fast' cannot follow R's lowess> quibra ((1:9)', (1:9)', "Convention", "lowess", "Method", "fast")
%!error <R's lowess has no counterpart of 'Derivative'.> quibra ((1:9)', (1:9)', "Convention", "lowess", "Derivative", 1)
%!error <R's lowess has no counterpart of 'Intervals'.> quibra ((1:9)', (1:9)', "Convention", "lowess", "Intervals", "confidence")
%!error <R's lowess has no counterpart of 'Window'.> quibra ((1:9)', (1:9)', [], "Convention", "lowess", "Window", 4)
%!error <R's lowess fits local lines: degree must be 1.> quibra ((1:9)', (1:9)', 0.5, 0, 2, "Convention", "lowess")
