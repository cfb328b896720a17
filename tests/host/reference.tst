## The module agrees to the last bit with reference_smooth, an m-code
## reading of the same algorithm, over varied data, spans, degrees and shapes.
## Singular local systems write a line to stderr; that noise is expected.

%!function same (name, varargin)
%!  got = quibra (varargin{:});
%!  want = reference_smooth (varargin{:});
%!  if (! isequal (size (got), size (want)))
%!    error ("%s: result is %dx%d, reference %dx%d", name,
%!           rows (got), columns (got), rows (want), columns (want));
%!  endif
%!  ## Which NaN the hardware produces is not ours to pin down.
%!  both_nan = isnan (got(:)) & isnan (want(:));
%!  bad = find (typecast (got(:), "uint64") != typecast (want(:), "uint64")
%!              & ! both_nan, 1);
%!  if (! isempty (bad))
%!    error ("%s: element %d of %d is %.17g (%s), reference %.17g (%s)", name,
%!           bad, numel (got), got(bad), num2hex (got(bad)),
%!           want(bad), num2hex (want(bad)));
%!  endif
%!endfunction

%!function [x, y] = noisy (n, seed)
%!  rand ("seed", seed);
%!  randn ("seed", seed);
%!  x = 10 * rand (n, 1);
%!  y = sin (x) + 0.3 * randn (n, 1);
%!endfunction

## Tiny point sets: windows of one or two points, singular and
## ill-conditioned local systems, and robust runs that give up.
%!test
%! for n = [1 2 3 5 10]
%!   [x, y] = noisy (n, n);
%!   for deg = 0:3
%!     for f = [0.05 0.2 0.5 1 1.5]
%!       same (sprintf ("n=%d deg=%d f=%g", n, deg, f), x, y, f, 0, deg);
%!     endfor
%!     for f = [0.2 0.5 1]
%!       same (sprintf ("n=%d deg=%d f=%g robust", n, deg, f), x, y, f, 1, deg);
%!     endfor
%!   endfor
%! endfor

## Exact lines and parabolas: plain fits reproduce them up to rounding,
## and robust ones stop at the floor under the residual scale, in the
## first pass or, once outliers are pruned, in a later one.
%!test
%! x = 0:9;
%! for deg = 1:2
%!   same (sprintf ("poly deg=%d", deg), x, x.^2 - 3*x, 0.5, 0, deg);
%!   same (sprintf ("poly robust deg=%d", deg), x, x.^2 - 3*x, 0.5, 1, deg);
%! endfor
%! same ("line robust", x, 2*x + 1, 0.5, 1, 1);
%! same ("zeros robust", x, zeros (size (x)), 0.5, 1, 2);
%! same ("constant robust", x, 5 * ones (size (x)), 0.5, 1, 0);
%! t = (0:19)';
%! y = 2*t + 1;
%! y([4 11 17]) += [30; -25; 40];
%! for f = [0.3 0.5 0.8 1]
%!   same (sprintf ("line outliers f=%g", f), t, y, f, 1, 1);
%! endfor
%! same ("parabola outliers", t, t.^2 - 3*t + [zeros(9,1); 50; zeros(10,1)], 0.7, 1, 2);
%! same ("offset line", t, 1e9 + t, 0.5, 1, 1);

## Medium unsorted noisy data, plain, over all degrees and spans.
%!test
%! [x, y] = noisy (120, 7);
%! for deg = 0:3
%!   for f = [0.05 0.2 0.5 1 1.5]
%!     same (sprintf ("n=120 deg=%d f=%g", deg, f), x, y, f, 0, deg);
%!   endfor
%! endfor
%! same ("n=120 defaults", x, y);
%! same ("n=120 f<=0", x, y, -0.5, 0, 2);

## Outliers drive the robustness iterations to prune points.
%!test
%! [x, y] = noisy (60, 11);
%! y([5 17 18 40]) += [8 -6 12 -20]';
%! for deg = 0:3
%!   for f = [0.3 1]
%!     same (sprintf ("outliers deg=%d f=%g", deg, f), x, y, f, 1, deg);
%!   endfor
%! endfor
%! [x, y] = noisy (300, 3);
%! y(1:23:end) += 5;
%! same ("n=300 robust", x, y, 0.3, 1, 1);

## Repeated abscissae: ties keep their input order, and windows cut
## between equal values.
%!test
%! rand ("seed", 5);
%! x = floor (8 * rand (1, 80));
%! y = x .^ 2 / 10 + rand (1, 80);
%! for deg = 0:2
%!   same (sprintf ("ties deg=%d", deg), x, y, 0.2, 0, deg);
%!   same (sprintf ("ties robust deg=%d", deg), x, y, 0.5, 1, deg);
%! endfor
%! same ("all tied", 3 * ones (10, 1), (1:10)', 0.5, 0, 1);

## Decimal grids: queries at nodes and midpoints sit at equal distances
## from both window ends (exactly, or up to rounding in 2*xq - x).
%!test
%! nx = (0:40) / 10;
%! ny = cos (3 * nx);
%! q = (0:80) / 20;
%! for f = [0.1 0.15 0.3]
%!   for deg = 1:2
%!     same (sprintf ("grid f=%g deg=%d", f, deg), q, q, f, 0, deg, nx, ny);
%!   endfor
%! endfor
%! same ("grid robust", nx, ny + (mod (0:40, 7) == 3), 0.3, 1, 1);

## Points with NaN abscissae take no part; NaN queries give NaN.  Robust
## runs only without NaN ordinates: with NaN residuals the median depends
## on how the selection arranges them.
%!test
%! rand ("seed", 2);
%! x = 10 * rand (30, 1);
%! y = sin (x);
%! x([4 11 12 25]) = NaN;
%! for deg = 0:2
%!   same (sprintf ("NaN x robust deg=%d", deg), x, y, 0.4, 1, deg);
%! endfor
%! y(7) = NaN;
%! for deg = 0:2
%!   for f = [0.2 0.5]
%!     same (sprintf ("NaN deg=%d f=%g", deg, f), x, y, f, 0, deg);
%!   endfor
%! endfor
%! same ("all NaN", NaN (5, 1), (1:5)', 0.5, 1, 1);

## Data far from zero against their spread are moved next to it.
%!test
%! [x, y] = noisy (80, 19);
%! for deg = 1:3
%!   same (sprintf ("dates deg=%d", deg), 738000 + x / 1440, y, 0.3, 0, deg);
%!   same (sprintf ("below zero deg=%d", deg), -x - 10, y, 0.3, 1, deg);
%! endfor
%! q = [737999; 738000 + (0:0.5:10)' / 1440; NaN; 738100];
%! same ("dates nodes", q, q, 0.2, 0, 2, 738000 + x / 1440, y);

## Evaluation at other abscissae, inside, outside and on the nodes, in
## row and column shapes of a different length from the nodes.
%!test
%! [nx, ny] = noisy (90, 13);
%! q = [-1; 0; nx(1:7); 2.5; 2.5; 5; 11];
%! for deg = 0:3
%!   same (sprintf ("nodes col deg=%d", deg), q, q, 0.25, 0, deg, nx, ny);
%!   same (sprintf ("nodes row deg=%d", deg), q', q', 0.25, 1, deg, nx', ny');
%! endfor
%! same ("nodes short", [4 6], [0 0], 0.5, 0, 2, nx(1:9), ny(1:9));
%! same ("nodes scalar X", 3, 0, 1, 0, 1, nx, ny);

## Row input, and robust/degree truncated toward zero.
%!test
%! [x, y] = noisy (50, 17);
%! same ("row", x', y', 0.3, 0, 2);
%! same ("robust 0.9", x, y, 0.3, 0.9, 2);
%! same ("robust -1", x', y', 0.3, -1, 2);
%! same ("degree 1.7", x, y, 0.3, 0, 1.7);
%! same ("degree 3.99", x, y, 0.3, 1, 3.99);
