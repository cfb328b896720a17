## Surfaces: two to four predictors, against R's loess (surface "direct",
## run by Rscript on the same data, r_surface.m), and what must hold
## whatever R says: the order of the rows, several signals, threads, and
## the errors of shapes and options that have no meaning here.

%!function d = apart (a, b, y)
%!  d = max (abs (a(:) - b(:))) / max (abs (y(:)));
%!endfunction

## n points in d predictors on unequal scales (the second 1000 times the
## first), a smooth surface plus noise; with step > 0 the first predictor
## is rounded to it (ties).
%!function [X, y] = field (n, d, seed, step)
%!  rand ("seed", seed);
%!  randn ("seed", seed);
%!  X = rand (n, d) .* (10 .^ (3 * (0:d-1) / max (d - 1, 1)));
%!  if (step > 0)
%!    X(:, 1) = step * round (X(:, 1) / step);
%!  endif
%!  s = X ./ max (X);
%!  y = sin (4 * s(:, 1)) + cos (3 * s(:, 2)) + s(:, end) .^ 2 + 0.2 * randn (n, 1);
%!endfunction

%!test
%! ## Fitted values and values at new points, with and without prior
%! ## weights and the trimmed scaling, degrees 0 to 2, spans 0.3 to 0.8.
%! worst = [0 0];
%! for d = [2 3]
%!   [X, y] = field (150, d, d, 0.05 * (d == 3));
%!   [Xq, ~] = field (20, d, 10 + d, 0);
%!   rand ("seed", 7);
%!   w = 0.5 + rand (150, 1);
%!   for normalize = [true false]
%!     for degree = 0:2
%!       for f = [0.3 0.5 0.8]
%!         for weighed = [false true]
%!           ww = ones (150, 1);
%!           opts = {"Normalize", normalize};
%!           if (weighed)
%!             ww = w;
%!             opts = [opts, {"Weights", w}];
%!           endif
%!           args = sprintf ("span = %.17g, degree = %d, normalize = %s", f, degree, ...
%!                           {"FALSE", "TRUE"}{normalize + 1});
%!           [rf, rp] = r_surface (X, y, ww, Xq, args);
%!           worst(1) = max (worst(1), apart (quibra (X, y, f, false, degree, opts{:}), rf, y));
%!           worst(2) = max (worst(2), apart (quibra (Xq, [], f, false, degree, X, y, opts{:}), rp, y));
%!         endfor
%!       endfor
%!     endfor
%!   endfor
%! endfor
%! assert (worst < 1e-10, "fitted %.3g, predicted %.3g", worst);

%!test
%! ## Robust, by R's family "symmetric", and spans above 1.
%! [X, y] = field (120, 2, 21, 0);
%! y(1:13:end) += 3;
%! for f = [0.4 1.5]
%!   rf = r_surface (X, y, ones (120, 1), zeros (0, 2), ...
%!                   sprintf ("span = %.17g, family = \"symmetric\"", f));
%!   v = quibra (X, y, f, true, 2, "Convention", "loess");
%!   assert (apart (v, rf, y) < 1e-10, "f = %g: %.3g", f, apart (v, rf, y));
%! endfor

%!test
%! ## Rows in any order, several signals, any thread count and lane width.
%! [X, y] = field (400, 3, 5, 0);
%! v = quibra (X, y, 0.3, false, 2);
%! p = randperm (400);
%! vp = quibra (X(p, :), y(p), 0.3, false, 2);
%! assert (apart (vp, v(p), y) < 1e-12);
%! Y = [y, 2 * y + 1, -y];
%! V = quibra (X, Y, 0.3, false, 2);
%! for c = 1:3
%!   assert (V(:, c), quibra (X, Y(:, c), 0.3, false, 2));
%! endfor
%! old = getenv ("QUIBRA_THREAD_MIN_PAIRS");
%! lanes = getenv ("QUIBRA_LANES");
%! band = {"Intervals", "prediction"};
%! [~, native] = quibra (X, y, 0.3, true, 2, band{:});
%! [~, loess] = quibra (X, y, 0.3, true, 2, band{:}, "Convention", "loess");
%! setenv ("QUIBRA_THREAD_MIN_PAIRS", "1");
%! unwind_protect
%!   for t = [1 2 3]
%!     for l = {"2", "4", "8"}
%!       setenv ("QUIBRA_LANES", l{1});
%!       assert (quibra (X, y, 0.3, false, 2, "Threads", t), v);
%!       [~, i] = quibra (X, y, 0.3, true, 2, band{:}, "Threads", t);
%!       assert ([i.se; i.sigma; i.dof], [native.se; native.sigma; native.dof]);
%!       [~, i] = quibra (X, y, 0.3, true, 2, band{:}, "Threads", t, "Convention", "loess");
%!       assert ([i.se; i.sigma; i.dof], [loess.se; loess.sigma; loess.dof]);
%!     endfor
%!   endfor
%! unwind_protect_cleanup
%!   setenv ("QUIBRA_THREAD_MIN_PAIRS", old);
%!   setenv ("QUIBRA_LANES", lanes);
%! end_unwind_protect

%!test
%! ## Points that take no part, a window by count, the second result.
%! [X, y] = field (60, 2, 9, 0);
%! X(3, 2) = NaN;
%! y(5) = NaN;
%! [v, info] = quibra (X, y, 0.5, false, 1, "Missing", "omit");
%! assert (isnan (v(3)) && ! isnan (v(5)));
%! assert (info.weights([3 5]), [0; 0]);
%! assert (info.window, 29);
%! assert (quibra (X, y, [], false, 1, "Missing", "omit", "Window", 29), v);

%!error <2 to 4 predictors, a column each; X has 5 columns> quibra (rand (9, 5), rand (9, 1), 0.5)
%!error <a row per row of X> quibra (rand (9, 2), rand (8, 1), 0.5)
%!error <degree 0, 1 or 2> quibra (rand (9, 2), rand (9, 1), 0.5, false, 3)
%!error <'Delta' has no meaning for a surface> quibra (rand (9, 2), rand (9, 1), 0.5, "Delta", 1)
%!error <'Method' 'fast' has no meaning> quibra (rand (9, 2), rand (9, 1), 0.5, "Method", "fast")
%!error <'Derivative' has no meaning> quibra (rand (9, 2), rand (9, 1), 0.5, "Derivative", 1)
%!error <column per predictor of nodes_x: 2 columns> quibra (rand (3, 3), [], 0.5, false, 1, rand (9, 2), rand (9, 1))
%!error <Y must be \[\]> quibra (rand (3, 2), rand (3, 1), 0.5, false, 1, rand (9, 2), rand (9, 1))
%!error <at least 6 points, its polynomial's terms; it has 4 here> quibra (rand (9, 2), rand (9, 1), 0.5)
%!error <Normalize must be true or false> quibra (rand (9, 2), rand (9, 1), 0.5, "Normalize", 2)

%!test
%! ## Robust by this module's rule: gross outliers get weight 0, and the
%! ## smooth stays near the one without them (the plain smooth does not);
%! ## the passes end converged.
%! [X, y] = field (300, 2, 31, 0);
%! bad = (7:23:300)';
%! yb = y;
%! yb(bad) += 50;
%! [v, info] = quibra (X, yb, 0.4, true, 1);
%! clean = quibra (X(setdiff (1:300, bad), :), y(setdiff (1:300, bad)), 0.4, false, 1);
%! keep = setdiff (1:300, bad);
%! assert (info.weights(bad), zeros (numel (bad), 1));
%! assert (strcmp (info.outcome, "converged") && info.passes > 1);
%! plain = quibra (X, yb, 0.4, false, 1);
%! assert (max (abs (v(keep) - clean)) < 0.1 * max (abs (plain(keep) - clean)));
%! [~, once] = quibra (X, yb, 0.4, true, 1, "MaxPasses", 1);
%! assert (once.passes, 1);
%! assert (strcmp (once.outcome, "exhausted"));

%!test
%! ## Bands: standard errors at the data and at new points, sigma (R's s),
%! ## enp and dof (R's one.delta), with and without prior weights.
%! for d = [2 3]
%!   [X, y] = field (130, d, 40 + d, 0);
%!   [Xq, ~] = field (9, d, 50 + d, 0);
%!   rand ("seed", 8);
%!   w = 0.5 + rand (130, 1);
%!   for weighed = [false true]
%!     ww = ones (130, 1);
%!     opts = {"Intervals", "confidence"};
%!     if (weighed)
%!       ww = w;
%!       opts = [opts, {"Weights", w}];
%!     endif
%!     [~, ~, se, se_q, stats] = r_surface (X, y, ww, Xq, "span = 0.6, degree = 2");
%!     [v, info] = quibra (X, y, 0.6, false, 2, opts{:});
%!     [vq, iq] = quibra (Xq, [], 0.6, false, 2, X, y, opts{:});
%!     assert (info.se, se, -1e-8);
%!     assert (iq.se, se_q, -1e-8);
%!     assert ([info.enp info.sigma info.dof], stats(1:3), -1e-10);
%!     b = betaincinv (0.95, 0.5, info.dof / 2);
%!     t = sqrt (info.dof * b / (1 - b));
%!     assert (info.upper - v, t * info.se, 1e-12);
%!   endfor
%! endfor
%! [~, p] = quibra (X, y, 0.6, false, 2, "Intervals", "prediction");
%! assert (p.se > info.sigma);

%!test
%! ## Bands after R's family "symmetric": values, standard errors at the
%! ## data and at new points, s from R's pseudovalues, enp and dof.
%! for d = [2 3]
%!   [X, y] = field (140, d, 70 + d, 0);
%!   y(3:11:end) += 4;
%!   [Xq, ~] = field (9, d, 80 + d, 0);
%!   rand ("seed", 9);
%!   w = 0.5 + rand (140, 1);
%!   for weighed = [false true]
%!     ww = ones (140, 1);
%!     opts = {"Intervals", "confidence", "Convention", "loess"};
%!     if (weighed)
%!       ww = w;
%!       opts = [opts, {"Weights", w}];
%!     endif
%!     [rf, rp, se, se_q, stats] = r_surface (X, y, ww, Xq, ...
%!                                          "span = 0.5, degree = 2, family = \"symmetric\"");
%!     [v, info] = quibra (X, y, 0.5, true, 2, opts{:});
%!     [vq, iq] = quibra (Xq, [], 0.5, true, 2, X, y, opts{:});
%!     assert (apart (v, rf, y) < 1e-10 && apart (vq, rp, y) < 1e-10);
%!     assert (info.se, se, -1e-8);
%!     assert (iq.se, se_q, -1e-8);
%!     assert ([info.enp info.sigma info.dof], stats(1:3), -1e-10);
%!     assert ([iq.enp iq.sigma iq.dof], stats(1:3), -1e-10);
%!   endfor
%! endfor

## This module's robust passes, then the band: each kept point's fit
## solved again by QR over its window found by brute force (weights the
## prior times the reported robustness weight: the passes' common factor
## leaves a fit as it is), and sigma, enp and dof summed from those rows.
%!function [sigma, enp, dof, se] = kept_band (X, y, w, rw, f)
%!  keep = find (rw > 0);
%!  Xk = X(keep, :);
%!  m = numel (keep);
%!  k = floor (m * f);
%!  z = zeros (m, 1);
%!  lev = zeros (m, 1);
%!  spread = 0;
%!  se = zeros (m, 1);
%!  for i = 1:m
%!    dx = Xk - Xk(i, :);
%!    dist = sqrt (sum (dx .^ 2, 2));
%!    [s, order] = sort (dist);
%!    near = order(1:k);
%!    t = dist(near) / s(k);
%!    r = sqrt (w(keep(near)) .* rw(keep(near)) .* (1 - t .^ 3) .^ 3);
%!    u = dx(near, :);
%!    A = [ones(k, 1), u, u(:, 1) .^ 2, u(:, 1) .* u(:, 2), u(:, 2) .^ 2];
%!    [Q, R] = qr (r .* A, 0);
%!    row = zeros (1, m);
%!    row(near) = ((R \ Q')(1, :) .* r');
%!    lev(i) = row(i);
%!    se(i) = sqrt (sum (row .^ 2 ./ w(keep)'));
%!    spread += sum (row .^ 2);
%!    res = y(keep(i)) - row * y(keep);
%!    z(i) = abs (res) * sqrt (w(keep(i))) / sqrt (1 - 2 * lev(i) + w(keep(i)) * se(i) ^ 2);
%!  endfor
%!  sigma = 1.482602218505602 * median (z);
%!  enp = spread;
%!  dof = m - 2 * sum (lev) + spread;
%!  se = sigma * se;
%!endfunction

%!test
%! ## Bands after this module's passes, against the solve above: sigma is
%! ## the robust scale, untouched by the outliers the passes left out.
%! [X, y] = field (150, 2, 91, 0);
%! X(:, 2) /= 1000;
%! y(5:13:end) += 30;
%! rand ("seed", 92);
%! w = 0.5 + rand (150, 1);
%! [v, info] = quibra (X, y, 0.5, true, 2, "Intervals", "confidence", "Weights", w, ...
%!                     "Normalize", false);
%! assert (all (info.weights(5:13:end) == 0));
%! [sigma, enp, dof, se] = kept_band (X, y, w, info.weights, 0.5);
%! assert ([info.sigma info.enp info.dof], [sigma enp dof], -1e-10);
%! assert (info.se(info.weights > 0), se, -1e-9);
%! assert (info.sigma < 0.3);

%!test
%! ## The automatic span: the least criterion among the spans tried (within
%! ## 'SpanRange'), and the smooth that span gives when asked for.
%! [X, y] = field (200, 2, 61, 0);
%! for rule = {"aicc", "gcv"}
%!   [v, info] = quibra (X, y, "Span", rule{1}, "SpanRange", [0.1 0.9]);
%!   c = info.criterion;
%!   [~, best] = min (c(:, 2));
%!   assert (info.span, c(best, 1));
%!   assert (all (c(:, 1) >= 0.1 & c(:, 1) <= 0.9));
%!   assert (v, quibra (X, y, info.span, false, 2));
%! endfor

%!test
%! ## Robust passes that prune below the polynomial's terms: the fits stay
%! ## least-squares (minimum-norm) ones, not a fault.
%! X = [0 0; 1 0; 0 1; 1 1; 0.5 0.5; 0.2 0.8; 0.9 0.1; 0.4 0.3];
%! y = [1; 2; 3; 4; 2.5; 60; -50; 2];
%! [v, info] = quibra (X, y, 1, true, 2);
%! assert (all (isfinite (v)));
%! assert (info.window <= 8);
