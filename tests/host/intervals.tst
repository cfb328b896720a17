## Standard errors, bands and the automatic span against an independent
## computation: the smoother matrix L built column by column from the
## module's own plain smooths of unit vectors (the smooth is linear in the
## ordinates), and, where that loses digits, by QR in a centred basis.

%!function L = smoother_matrix (x, f, d, w)
%!  n = numel (x);
%!  L = zeros (n);
%!  for j = 1:n
%!    e = zeros (n, 1);
%!    e(j) = 1;
%!    L(:,j) = quibra (x, e, f, 0, d, "Weights", w);
%!  endfor
%!endfunction

## With `prior` (robust calls) the ordinates' variances are sigma^2 / prior
## and sigma a robust scale of the standardised residuals; otherwise
## sigma^2 / w, and sigma from the weighted residual sum of squares.
%!function check_band (info, ys, L, y, w, level, prediction, prior = [])
%!  keep = w > 0;
%!  p = w;
%!  if (! isempty (prior))
%!    p = prior;
%!  endif
%!  Lk = L(keep, keep);
%!  n = nnz (keep);
%!  r = y(keep) - ys(keep);
%!  enp = trace (Lk);
%!  % var y_j = sigma^2 / p_j: dof = n - 2 tr(L) + tr(L P^-1 L' P)
%!  vk = sum (Lk .^ 2 ./ p(keep)', 2);
%!  spread = sum (p(keep) .* vk);
%!  dof = n - 2 * enp + spread;
%!  if (isempty (prior))
%!    sigma = sqrt (sum (w(keep) .* r .^ 2) / dof);
%!  else
%!    z = abs (r .* sqrt (p(keep))) ./ sqrt (1 - 2 * diag (Lk) + p(keep) .* vk);
%!    sigma = 1.482602218505602 * median (z);
%!  endif
%!  v = sum (L(:,keep) .^ 2 ./ p(keep)', 2) + prediction;
%!  se = sigma * sqrt (v);
%!  t = sqrt (dof * betaincinv (level, 0.5, dof / 2) / (1 - betaincinv (level, 0.5, dof / 2)));
%!  assert (info.enp, enp, -1e-10);
%!  assert (info.dof, dof, -1e-10);
%!  assert (info.sigma, sigma, -1e-10);
%!  assert (info.se, se, -1e-10);
%!  assert (info.lower, ys - t * info.se, 1e-12);
%!  assert (info.upper, ys + t * info.se, 1e-12);
%!endfunction

%!shared x, y
%! rand ("seed", 13); randn ("seed", 13);
%! x = sort (rand (300, 1)) - 0.5;
%! y = sin (4 * x) + 0.3 * randn (300, 1);

## Plain, local lines and quadratics, both kinds of band.
%!test
%! w = ones (300, 1);
%! for d = [1 2]
%!   L = smoother_matrix (x, 0.3, d, w);
%!   [ys, info] = quibra (x, y, 0.3, 0, d, "Intervals", "confidence");
%!   check_band (info, ys, L, y, w, 0.95, 0);
%!   [ys, info] = quibra (x, y, 0.3, 0, d, "Intervals", "prediction", "Level", 0.8);
%!   check_band (info, ys, L, y, w, 0.8, 1);
%! endfor

## Fits at the data run in the data's sorted order: the band at unsorted
## data has the bits the nodes form gives, point by point in input order.
%!test
%! p = [300:-2:2, 1:2:299];
%! for kind = {"confidence", "prediction"}
%!   [ys, a] = quibra (x(p), y(p), 0.05, 1, 2, "Intervals", kind{1});
%!   [zs, b] = quibra (x(p), y(p), 0.05, 1, 2, x(p), y(p), "Intervals", kind{1});
%!   assert (typecast ([ys; a.se; a.lower; a.upper], "uint64"),
%!           typecast ([zs; b.se; b.lower; b.upper], "uint64"));
%! endfor

## Prior weights: var y_j = sigma^2 / w_j.
%!test
%! w = 0.5 + rand (300, 1);
%! w(7) = 0;
%! L = smoother_matrix (x, 0.25, 2, w);
%! [ys, info] = quibra (x, y, 0.25, 0, 2, "Intervals", "confidence", "Weights", w);
%! check_band (info, ys, L, y, w, 0.95, 0);

## Robust: L is the final weighted smoother, the robustness weights no
## precisions, sigma a robust scale of the standardised residuals; with
## prior weights too.
%!test
%! yo = y;
%! yo([20 150 151 280]) += [3; -4; 3.5; -3];
%! [ys, info] = quibra (x, yo, 0.3, 1, 2, "Intervals", "confidence");
%! # As the passes use them: scaled to average 1 over the points.
%! w = info.weights * 300 / sum (info.weights);
%! assert (nnz (w == 0) >= 4);
%! L = smoother_matrix (x, 0.3, 2, w);
%! check_band (info, ys, L, yo, w, 0.95, 0, ones (300, 1));
%! pw = 0.5 + rand (300, 1);
%! [ys, info] = quibra (x, yo, 0.3, 1, 2, "Intervals", "prediction", "Weights", pw);
%! w = info.weights .* pw;
%! L = smoother_matrix (x, 0.3, 2, w);
%! check_band (info, ys, L, yo, w, 0.95, 1, pw);

## Degree 3: the unit-vector smooths themselves lose digits (their normal
## equations are not centred), so the band is checked against QR.
%!test
%! n = 300; q = floor (n * 0.3); d = 3;
%! [ys, info] = quibra (x, y, 0.3, 0, d, "Intervals", "confidence");
%! v = zeros (n, 1);
%! lev = zeros (n, 1);
%! for i = 1:n
%!   dist = abs (x - x(i));
%!   s = sort (dist);
%!   h = s(q);                      # the window's farther end (no ties here)
%!   k = (1 - (min (dist / h, 1)) .^ 3) .^ 3;
%!   A = sqrt (k) .* ((x - x(i)) / h) .^ (0:d);
%!   [Q, R] = qr (A, 0);
%!   l = (R \ (Q' .* sqrt (k')))(1,:);
%!   v(i) = sum (l .^ 2);
%!   lev(i) = l(i);
%! endfor
%! assert (info.enp, sum (lev), -1e-10);
%! assert (info.se / info.sigma, sqrt (v), -1e-10);

## The nodes form: sigma and dof from the fit at the nodes, se at X.
%!test
%! xq = linspace (-0.6, 0.6, 41)';
%! w = ones (300, 1);
%! L = smoother_matrix (x, 0.3, 2, w);
%! [~, ref] = quibra (x, y, 0.3, 0, 2, "Intervals", "confidence");
%! [ys, info] = quibra (xq, xq, 0.3, 0, 2, x, y, "Intervals", "confidence");
%! assert (info.sigma, ref.sigma);
%! assert (info.dof, ref.dof);
%! Lq = zeros (41, 300);
%! for j = 1:300
%!   e = zeros (300, 1); e(j) = 1;
%!   Lq(:,j) = quibra (xq, xq, 0.3, 0, 2, x, e);
%! endfor
%! assert (info.se, ref.sigma * sqrt (sum (Lq .^ 2, 2)), -1e-10);

## Same bits on every register width and thread count.
%!test
%! old = {getenv("QUIBRA_LANES"), getenv("QUIBRA_THREAD_MIN_PAIRS")};
%! unwind_protect
%!   setenv ("QUIBRA_THREAD_MIN_PAIRS", "0");
%!   [ys, base] = quibra (x, y, 0.2, 1, 2, "Intervals", "prediction", "Threads", 1);
%!   for lanes = {"2", "4", "8"}
%!     setenv ("QUIBRA_LANES", lanes{1});
%!     for t = 1:3
%!       [ys2, info] = quibra (x, y, 0.2, 1, 2, "Intervals", "prediction", "Threads", t);
%!       assert (isequal (ys2, ys) && isequal (info.se, base.se) && isequal (info.upper, base.upper));
%!       assert (isequal ([info.enp info.dof info.sigma], [base.enp base.dof base.sigma]));
%!     endfor
%!   endfor
%! unwind_protect_cleanup
%!   setenv ("QUIBRA_LANES", old{1});
%!   setenv ("QUIBRA_THREAD_MIN_PAIRS", old{2});
%! end_unwind_protect

## The values keep their bits; Delta interpolates se like the values;
## one result computes no band; a failed fit has a NaN band.
%!test
%! [ys, info] = quibra (x, y, 0.3, 0, 2, "Intervals", "confidence", "FailedValue", NaN);
%! assert (isequal (ys, quibra (x, y, 0.3)));
%! assert (isequal (quibra (x, y, 0.3, 0, 2, "Intervals", "confidence"), ys));
%! # Fits about 0.01 apart, three points per fit: close to the exact band.
%! [yd, id] = quibra (x, y, 0.3, 0, 2, "Intervals", "confidence", "Delta", 0.01);
%! assert (isequal (yd, quibra (x, y, 0.3, 0, 2, "Delta", 0.01)));
%! assert (id.se, info.se, -0.02);
%! assert ([id.enp id.dof], [info.enp info.dof], -0.01);
%! xf = sort ([0:0.2:12, 3 * ones(1, 12)]');  # fits near x = 3 fail
%! [yf, inf2] = quibra (xf, sin (xf), 0.15, 0, 2, "Intervals", "confidence", "Diagnostics", "off");
%! assert (nnz (inf2.failed) > 0 && all (isnan (inf2.se(inf2.failed))));
%! assert (all (isfinite (inf2.se(! inf2.failed))) && isfinite (inf2.sigma));

## Calibration: a gentle quadratic, which local quadratics reproduce, so
## L times the true curve is the curve; 300 replications of 100 points.
%!test
%! randn ("seed", 5); rand ("seed", 5);
%! n = 100; reps = 300;
%! xc = linspace (0, 1, n)';
%! mu = 1 + xc - 0.5 * xc .^ 2;
%! hit = 0; hit_new = 0;
%! for r = 1:reps
%!   yc = mu + 0.2 * randn (n, 1);
%!   [ys, ic] = quibra (xc, yc, 0.4, 0, 2, "Intervals", "confidence");
%!   hit += sum (ic.lower <= mu & mu <= ic.upper);
%!   [~, ip] = quibra (xc, yc, 0.4, 0, 2, "Intervals", "prediction");
%!   ynew = mu + 0.2 * randn (n, 1);
%!   hit_new += sum (ip.lower <= ynew & ynew <= ip.upper);
%! endfor
%! coverage = [hit hit_new] / (n * reps);
%! printf ("coverage of the 95%% bands: confidence %.4f, prediction %.4f\n", coverage);
%! assert (coverage >= 0.93 & coverage <= 0.97);

## Robust bands as honest as plain ones: 300 replications of 300 points of
## a sine with N(0, 0.5^2) noise, clean and with 5% gross outliers (10 sd).
## The noise scale is within 3% of the truth; the confidence band covers
## the expected smooth (the final weighted smoother applied to the curve),
## the prediction band new uncontaminated observations, at 93% to 97%.
%!test
%! randn ("seed", 6); rand ("seed", 6);
%! n = 300; reps = 300;
%! for outliers = [0 0.05]
%!   sig = 0; hit = 0; hit_new = 0;
%!   for r = 1:reps
%!     x = rand (n, 1);
%!     mu = sin (2 * pi * x);
%!     y = mu + 0.5 * randn (n, 1);
%!     bad = rand (n, 1) < outliers;
%!     y(bad) += 5 * sign (randn (nnz (bad), 1));
%!     [~, ic] = quibra (x, y, 0.4, 1, 2, "Intervals", "confidence");
%!     [~, ip] = quibra (x, y, 0.4, 1, 2, "Intervals", "prediction");
%!     expected = quibra (x, mu, 0.4, 0, 2, "Weights", ic.weights);
%!     ynew = mu + 0.5 * randn (n, 1);
%!     sig += ic.sigma / reps;
%!     hit += sum (ic.lower <= expected & expected <= ic.upper) / (n * reps);
%!     hit_new += sum (ip.lower <= ynew & ynew <= ip.upper) / (n * reps);
%!   endfor
%!   printf ("robust, %g%% outliers: sigma %.4f, coverage %.4f %.4f\n", 100 * outliers, sig, hit, hit_new);
%!   assert (abs (sig / 0.5 - 1) < 0.03);
%!   assert ([hit hit_new] >= 0.93 & [hit hit_new] <= 0.97);
%! endfor

## The automatic span: each criterion value against L at that span.
%!test
%! n = 300;
%! for rule = {"aicc", "gcv"}
%!   [ys, info] = quibra (x, y, "Span", rule{1});
%!   c = info.criterion;
%!   assert (issorted (c(:,1)) && c(1,1) >= 4 / n && c(end,1) == 1);
%!   [~, best] = min (c(:,2));
%!   assert (info.span, c(best,1));
%!   assert (isequal (ys, quibra (x, y, info.span)));
%!   # Out of the running: a span whose smooth fails somewhere, or whose
%!   # criterion has no positive denominator (a window of 4 points leaves
%!   # 3 of weight > 0 to a quadratic: L = I).
%!   for k = find (isinf (c(:,2)))'
%!     [~, i] = quibra (x, y, c(k,1), 0, 2, "Diagnostics", "off", "Intervals", "confidence");
%!     assert (any (i.failed) || n - i.enp - 2 <= 0);
%!   endfor
%!   # Below ~30 points per window the unit-vector smooths' own normal
%!   # equations lose digits (the QR test above covers such windows).
%!   fair = find (isfinite (c(:,2)) & c(:,1) >= 0.1);
%!   for k = unique ([fair(1) fair(fair == best) size(c, 1) - 1])
%!     L = smoother_matrix (x, c(k,1), 2, ones (n, 1));
%!     tr = trace (L);
%!     rss = sum ((y - L * y) .^ 2);
%!     if (strcmp (rule{1}, "aicc"))
%!       want = log (rss / n) + 1 + 2 * (tr + 1) / (n - tr - 2);
%!     else
%!       want = n * rss / (n - tr) ^ 2;
%!     endif
%!     assert (c(k,2), want, -1e-10);
%!   endfor
%! endfor

## Span as a number is the positional f; SpanRange narrows the search;
## robust calls choose on the plain smooth.
%!test
%! assert (isequal (quibra (x, y, 0.5, 0, 1, "Span", 0.3), quibra (x, y, 0.3, 0, 1)));
%! [~, info] = quibra (x, y, 0.2, 0, 2, "Span", "gcv", "SpanRange", [0.2 0.6]);
%! assert (all (info.criterion(:,1) >= 0.2 & info.criterion(:,1) <= 0.6 + 1e-12));
%! [~, plain] = quibra (x, y, "Span", "aicc");
%! [yr, rob] = quibra (x, y, 0.9, 1, 2, "Span", "aicc");
%! assert (rob.span, plain.span);
%! assert (isequal (yr, quibra (x, y, plain.span, 1)));

%!error <Intervals must be 'none', 'confidence' or 'prediction'.> quibra (x, y, "Intervals", "band")
%!error <Level must be a noncomplex scalar double above 0 and below 1.> quibra (x, y, "Level", 1)
%!error <Span must be a noncomplex scalar double \(not NaN\), 'aicc' or 'gcv'.> quibra (x, y, "Span", NaN)
%!error <Span must be a noncomplex scalar double \(not NaN\), 'aicc' or 'gcv'.> quibra (x, y, "Span", "cv")
%!error <SpanRange must be a noncomplex double pair \[lo hi\] with 0 < lo <= hi <= 1.> quibra (x, y, "SpanRange", [0.5 0.4])
%!error <SpanRange must be a noncomplex double pair \[lo hi\] with 0 < lo <= hi <= 1.> quibra (x, y, "SpanRange", [0 1 1])
