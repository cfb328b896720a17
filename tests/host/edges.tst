## Data at the edges: tied, rounded and tiny data with 'Fallback' 'lower',
## robust calls on data that are no finite number, infinite abscissae and
## abscissae near the largest double.

%!function check_lowered (x, y, f, degree, q, varargin)
%!  [got, info] = quibra (q, q, f, 0, degree, x, y, "Fallback", "lower", varargin{:});
%!  w = [];
%!  k = find (strcmp (varargin, "Weights"));
%!  if (! isempty (k))
%!    w = varargin{k + 1};
%!  endif
%!  want = qr_smooth (x, y, f, degree, q, w, true);
%!  assert (! any (got(:) == realmax), "a fit failed");
%!  ok = ! isnan (want);
%!  assert (all (ok(isfinite (q))), "the independent solve has no fit");
%!  err = max (abs (got(ok) - want(ok))) / max (abs (y));
%!  assert (err < 1e-11, "lowered fits off by %g of max|y|", err);
%!  assert (size (info.lowered), size (q));
%!endfunction

## Integer and rounded abscissae: every window gets a fit, the highest
## degree its distinct weighted abscissae determine (a window holding one
## abscissa gives their weighted mean), against an independent solve.
%!test
%! rand ("seed", 1); randn ("seed", 1);
%! x = round (10 * rand (300, 1));
%! y = x .^ 2 / 10 + 0.3 * randn (300, 1);
%! for f = [0.2 0.3]
%!   check_lowered (x, y, f, 2, x);
%!   check_lowered (x, y, f, 2, (-1:0.25:11)');
%! endfor
%! [r, info] = quibra (x, y, "Fallback", "lower");
%! assert (! any (r == realmax) && all (info.lowered));
%! [r, info] = quibra (x, y, 0.3, 0, 2, "Fallback", "lower");
%! assert (any (info.lowered) && ! all (info.lowered));
%! assert (isequal (r(! info.lowered), quibra (x, y, 0.3, 0, 2)(! info.lowered)));
%! xr = round (20 * rand (500, 1)) / 2;
%! yr = sin (xr) + 0.2 * randn (500, 1);
%! check_lowered (xr, yr, 0.1, 1, xr);
%! check_lowered (xr, yr, 0.1, 1, xr, "Weights", 0.5 + rand (500, 1));

## A few values, each tied far more often than a window holds: windows of
## one abscissa, at the query or all at distance h, and windows across two.
%!test
%! rand ("seed", 5);
%! randn ("seed", 5);
%! x = round (3 * rand (3000, 1));
%! y = x + randn (3000, 1);
%! q = [x(1:40); (-0.5:0.1:3.5)'];
%! for method = {"direct", "fast"}
%!   check_lowered (x, y, 0.01, 1, q, "Method", method{1});
%!   check_lowered (x, y, 0.3, 0, q, "Method", method{1});
%!   check_lowered (x, y, 0.2, 2, q, "Method", method{1}, "Weights", 0.5 + rand (3000, 1));
%! endfor

## Small data with the defaults, and a window of 40 points at the query.
%!test
%! [r, info] = quibra ((1:19)', sin ((1:19)' / 3), "Fallback", "lower");
%! assert (all (isfinite (r)) && all (info.lowered));
%! assert (quibra ([1 2 3], [1 4 9], 1, 0, 1, "Fallback", "lower"), [1 4 9], 1e-14);
%! rand ("seed", 2);
%! x = [zeros(40, 1); (1:160)'];
%! y = rand (200, 1);
%! w = 0.5 + rand (200, 1);
%! r = quibra (0, 0, 0.2, 0, 2, x, y, "Fallback", "lower", "Weights", w);
%! assert (r, sum (w(1:40) .* y(1:40)) / sum (w(1:40)), 1e-15);

## 'Fallback' 'none' is the call without it, to the bit and the line; with
## 'lower' no singular line comes from a lowered fit, and 'Delta' marks the
## values interpolated next to one.
%!test
%! x = [3 * ones(11, 1); 3.1 * ones(11, 1); 3.2 * ones(11, 1)];
%! y = sin (10 * x) + (1:33)' / 100;
%! [e1, r1] = evalc ("quibra (x, y, 0.2, 0, 2)");
%! [e2, r2] = evalc ("quibra (x, y, 0.2, 0, 2, 'Fallback', 'none')");
%! assert (isequal (r1, r2) && strcmp (e1, e2));
%! [~, info] = quibra (x, y, 0.2, 0, 2, "Fallback", "lower", "Diagnostics", "warning");
%! [msg, id] = lastwarn ();
%! assert (! strcmp (id, "quibra:singular") || isempty (msg));
%! q = (2.9:0.01:3.3)';
%! [r, info] = quibra (q, q, 0.2, 0, 2, x, y, "Fallback", "lower", "Delta", 0.05);
%! assert (! any (r == realmax) && any (info.lowered));
%! [r, info] = quibra (q, q, 0.4, 1, 1, x, y, "Fallback", "lower", "Intervals", "confidence");
%! assert (all (isfinite (info.se)));

## Robustness that cannot weigh the points: a scale that is no finite
## number gives its own outcome, the plain smooth and weights 1; the floor
## needs a finite mean |Y|, so an infinite ordinate is pruned as an outlier.
%!test
%! t = (1:40)';
%! y = sin (t / 4) + mod (t * 7, 5) / 10;
%! yn = y;
%! yn(3:25) = NaN;
%! [r, info] = quibra (t, yn, 0.3, 1, 1);
%! assert (info.outcome, "nonfinite");
%! assert (info.weights, ones (size (t)));
%! assert (r, quibra (t, yn, 0.3, 0, 1));
%! yi = y;
%! yi(20) = Inf;
%! [r, info] = quibra (t, yi, 0.3, 1, 1);
%! assert (! strcmp (info.outcome, "exact"));
%! assert (info.weights(20), 0);
%! assert (all (isfinite (r([1:15 25:40]))));

## An infinite abscissa takes no part, as a NaN one: the call is the call
## without it, and an infinite query gives NaN with no fit.
%!test
%! rand ("seed", 3);
%! x = 10 * rand (60, 1);
%! y = sin (x) + rand (60, 1) / 5;
%! xi = x;
%! xi([7 30]) = [Inf -Inf];
%! keep = setdiff (1:60, [7 30]);
%! for robust = 0:1
%!   [r, info] = quibra (xi, y, 0.3, robust, 2);
%!   assert (isnan (r([7 30])));
%!   assert (info.weights([7 30]), [0; 0]);
%!   assert (isequal (r(keep), quibra (x(keep), y(keep), 0.3, robust, 2, x(keep), y(keep))));
%! endfor
%! assert (isnan (quibra ([Inf -Inf], [0 0], 0.5, 0, 1, x, y)));

## Abscissae whose differences overflow: the whole evaluation runs on the
## halved abscissae, so the values are those of the data halved, and no NaN
## comes of a distance; a fit the far points leave undetermined fails with
## its line.
%!test
%! [r, info] = quibra ([1e308; -1e308; 0; 1; 2], (1:5)', 1, 0, 1);
%! assert (! any (isnan (r)));
%! assert (r(1:2), [1; 2], 1e-12);
%! ok = ! info.failed;
%! assert (r(ok & [0; 0; 1; 1; 1]), [3; 4; 5](ok(3:5)), 1e-12);
%! rand ("seed", 4);
%! x = [realmax * (2 * rand (30, 1) - 1); rand(30, 1)];
%! y = rand (60, 1);
%! q = [x; -realmax; realmax; 0];
%! for robust = 0:1
%!   [r, info] = quibra (q, q, 0.3, robust, 1, x, y, "Diagnostics", "off");
%!   assert (! any (isnan (r)));
%!   assert (isequal (r, quibra (q / 2, q, 0.3, robust, 1, x / 2, y, "Diagnostics", "off")));
%! endfor

%!error <Fallback must be 'none' or 'lower'.> quibra (1:10, 1:10, "Fallback", "higher")
