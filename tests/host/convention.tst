## 'Convention' 'lowess' and 'loess' against R's lowess and loess, run by
## Rscript on the same data (r_fits.m): R's data sets and noisy data with
## outliers, ties, offsets far from zero and tiny counts, at several spans,
## iteration counts and deltas or degrees. Every figure is the largest
## difference relative to max|y|.

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

## Points tied with a fit's abscissa take its value, also where the fit
## they lie on the line to has none (R's line gives them NaN).
%!test
%! x = [-1e300; -128; 104 * ones(5, 1)];
%! v = quibra (x, [0; NaN; 2; 3; 4; 5; 6], [], false, "Convention", "lowess");
%! assert (v(3:7), repmat (4, 5, 1));

## A data point left out ('Weights' 0) takes the value of a point at its
## abscissa that took part, fitted or placed on a 'Delta' line alike.
%!test
%! x = [(1:10)'; 4.5; 4.5];
%! w = ones (12, 1);
%! w(12) = 0;
%! v = quibra (x, sin (x), 0.5, false, "Convention", "lowess", "Delta", 3, "Weights", w);
%! assert (v(12), v(11));

## 'native' is the default, bit for bit.
%!test
%! xy = noisy (60, 9, 0, 0);
%! assert (quibra (xy(:, 1), xy(:, 2), 0.3, 1, 2, "Convention", "native"), ...
%!         quibra (xy(:, 1), xy(:, 2), 0.3, 1, 2));

%!error <Convention must be 'native', 'lowess' or 'loess'.> quibra ((1:9)', (1:9)', "Convention", "R")
%!error <'Method' 'fast' cannot follow R's lowess> quibra ((1:9)', (1:9)', "Convention", "lowess", "Method", "fast")
%!error <R's lowess has no counterpart of 'Derivative'.> quibra ((1:9)', (1:9)', "Convention", "lowess", "Derivative", 1)
%!error <R's lowess has no counterpart of 'Intervals'.> quibra ((1:9)', (1:9)', "Convention", "lowess", "Intervals", "confidence")
%!error <R's lowess has no counterpart of 'Window'.> quibra ((1:9)', (1:9)', [], "Convention", "lowess", "Window", 4)
%!error <R's lowess fits local lines: degree must be 1.> quibra ((1:9)', (1:9)', 0.5, 0, 2, "Convention", "lowess")

## R's loess (family "symmetric" for robust calls, "gaussian" otherwise),
## surface "direct", at degrees 1 and 2, three spans (one above 1) and
## three reweighting counts; windows too small for R are left out.
%!function e = loess_case (f, degree, passes)
%!  e = sprintf (["fitted(loess(y ~ x, weights = w, span = %.17g, degree = %d, " ...
%!                "family = \"%s\", control = loess.control(surface = \"direct\", " ...
%!                "iterations = %d)))"], f, degree, merge (passes > 0, "symmetric", "gaussian"), passes + 1);
%!endfunction

## Whether the residuals of a fit before the last are all but rounding.
%!function r = rounding_scale (x, y, f, degree, passes)
%!  r = false;
%!  for p = 0:passes - 1
%!    r = r || median (abs (y - ours_loess (x, y, f, degree, p))) < 1e-9 * max (abs (y));
%!  endfor
%!endfunction

%!function v = ours_loess (x, y, f, degree, passes, varargin)
%!  args = [{"Convention", "loess"}, varargin];
%!  if (passes > 0)
%!    args = [args, {"MaxPasses", passes}];
%!  endif
%!  v = quibra (x, y, f, passes > 0, degree, args{:});
%!endfunction

%!test
%! data = {"cars", "pressure", "women", "faithful", "trees", "mtcars", "swiss", ...
%!         noisy(200, 1, 0, 0), noisy(301, 2, 0.25, 0), noisy(120, 3, 0, 1e6), ...
%!         noisy(4, 4, 0, 0), noisy(7, 5, 0, 0), noisy(12, 6, 0.5, 0)};
%! worst = compared = skipped = 0;
%! for k = 1:numel (data)
%!   n = rows (data{k});
%!   if (ischar (data{k}))
%!     n = Inf;  # R's sets are all large enough
%!   endif
%!   cases = {};
%!   for f = [0.75 0.3 1.5]
%!     for degree = [1 2]
%!       for passes = [0 1 3 5]
%!         if (floor (n * f) > degree)
%!           cases(end+1, :) = {f, degree, passes};
%!         endif
%!       endfor
%!     endfor
%!   endfor
%!   exprs = cellfun (@loess_case, cases(:, 1), cases(:, 2), cases(:, 3), "UniformOutput", false);
%!   [x, y, r] = r_fits (data{k}, exprs);
%!   for c = 1:rows (cases)
%!     ## Where a fit's residuals are mostly rounding, so are the robustness
%!     ## weights made of them: no two solvers agree there (R's own pressure
%!     ## and mtcars at small spans; R may fail outright).
%!     if (rounding_scale (x, y, cases{c, :}) || all (isnan (r(:, c))))
%!       skipped += 1;
%!       continue;
%!     endif
%!     ## Where every point of a window weighs 0, R gives 0: we have no estimate.
%!     v = ours_loess (x, y, cases{c, :});
%!     has = v != realmax;
%!     e = apart (v(has), r(has, c), y);
%!     assert (e <= 1e-11, "data %d, %s: %.3g of max|y|", k, exprs{c}, e);
%!     worst = max (worst, e);
%!     compared += 1;
%!   endfor
%! endfor
%! printf ("    'loess' against R's loess: at most %.2g of max|y| in %d calls (%d left out)\n", ...
%!         worst, compared, skipped);

## Weights (some 0, which R keeps in its windows), R's robustness weights
## reported, the nodes form as R's predict, beyond the data too, and the
## data's order.
%!test
%! xy = noisy (150, 7, 0, 0);
%! rand ("seed", 7);
%! xy(:, 3) = 2 * rand (150, 1) .* (rand (150, 1) > 0.1);
%! q = linspace (-1, 11, 25)';
%! fit = "loess(y ~ x, weights = w, family = \"symmetric\", control = loess.control(surface = \"direct\"))";
%! [x, y, r, w] = r_fits (xy, {sprintf("fitted(%s)", fit), sprintf("%s$robust", fit)});
%! [~, ~, at_q] = r_fits (xy, {sprintf("predict(%s, data.frame(x = q))", fit)}, q);
%! [v, info] = quibra (x, y, [], true, "Convention", "loess", "Weights", w);
%! assert (apart (v, r(:, 1), y) <= 1e-11);
%! assert (max (abs (info.weights - r(:, 2))) <= 1e-9);
%! assert (info.passes, 3);
%! p = randperm (150);
%! assert (quibra (x(p), y(p), [], true, "Convention", "loess", "Weights", w(p)), v(p), 1e-12);
%! at = quibra (q, [], [], true, 2, x, y, "Convention", "loess", "Weights", w);
%! assert (apart (at, at_q, y) <= 1e-11);

## What R's loess has no number for: a window all at one abscissa (R: NaN)
## is the mean of every point there; a window of points of weight 0 (R: 0)
## has no estimate ('FailedValue'). Several signals are each smoothed alone.
%!test
%! x = [1 1 1 1 2 3 4 5]';
%! y = [1 2 3 6 5 4 3 2]';
%! v = quibra (x, y, 3/8, false, 1, "Convention", "loess");
%! assert (v(1:4), repmat (3, 4, 1));
%! assert (all (isfinite (v)));
%! w = [zeros(10, 1); ones(10, 1)];
%! [v, info] = quibra ((1:20)', (1:20)', 0.2, false, 1, "Convention", "loess", "Weights", w);
%! assert (all (v(1:9) == realmax) && all (info.failed(1:9)) && ! any (info.failed(10:20)));
%! xy = noisy (60, 9, 0, 0);
%! both = quibra (xy(:, 1), [xy(:, 2), 3 - xy(:, 2)], 0.5, true, "Convention", "loess");
%! assert (both(:, 2), quibra (xy(:, 1), 3 - xy(:, 2), 0.5, true, "Convention", "loess"));

%!error <'Method' 'fast' cannot follow R's loess> quibra ((1:9)', (1:9)', "Convention", "loess", "Method", "fast")
%!error <R's loess has no counterpart of 'Delta'.> quibra ((1:9)', (1:9)', "Convention", "loess", "Delta", 1)
%!error <R's loess has no counterpart of 'Intervals'.> quibra ((1:9)', (1:9)', "Convention", "loess", "Intervals", "confidence")
%!error <R's loess fits local polynomials of degree 0, 1 or 2.> quibra ((1:9)', (1:9)', 0.5, 0, 3, "Convention", "loess")
%!error <R's loess needs windows of at least degree \+ 1 = 3 points; floor\(f n\) is 2 here.> quibra ((1:9)', (1:9)', 0.3, "Convention", "loess")
%!error <R's loess needs windows of at least degree \+ 1 = 2 points; floor\(f n\) is 0 here.> quibra ((1:9)', (1:9)', -1, 0, 1, "Convention", "loess")
