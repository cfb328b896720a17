## The module as users call it: shapes, defaults, argument errors in their
## order, the nodes form, and the diagnostics on standard error.

%!shared x, y
%! x = [3 1 4 1.5 9 2.6 5 3.5 8 9.7 7.9 3.2 3.8 4.6 2.6 4.3]';
%! y = sin (x) + cos (3 * x);

## Defaults are f = 0.2, robust = 0, degree = 2.
%!test
%! assert (isequal (quibra (x, y), quibra (x, y, 0.2), quibra (x, y, 0.2, 0, 2)));
%! assert (isequal (quibra (x, y, 0.5, 0.9), quibra (x, y, 0.5, 0)));
%! assert (isequal (quibra (x, y, 0.5, -1), quibra (x, y, 0.5, 1)));
%! assert (isequal (quibra (x, y, 0.5, 0, 1.7), quibra (x, y, 0.5, 0, 1)));
%! assert (! isequal (quibra (x, y, 0.5, 1), quibra (x, y, 0.5, 0)));

## The result is shaped like X; 1-by-1 is a row of one.
%!test
%! assert (size (quibra (x, y)), size (x));
%! assert (size (quibra (x', y')), size (x'));
%! assert (isequal (quibra (x', y', 0.5), quibra (x, y, 0.5)'));
%! assert (size (quibra (5, 7)), [1 1]);
%! assert (class (quibra (x, y)), "double");

## Exact data on a line are reproduced by local lines.
%!test
%! t = (1:30)';
%! assert (quibra (t, 2 * t + 1, 0.3, 0, 1), 2 * t + 1, 1e-9);

## Equal abscissae give equal results, wherever they stand in X.
%!test
%! r = quibra (x, y, 0.5);
%! assert (r(6) == r(15));

## Nodes: the smooth of (nodes_x, nodes_y) at every X, of X's shape; Y is
## checked but not used; the nodes may have another length.
%!test
%! q = linspace (0, 10, 7);
%! a = quibra (q, zeros (size (q)), 0.5, 0, 2, x, y);
%! b = quibra (q, ones (size (q)), 0.5, 0, 2, x', y');
%! assert (size (a), [1 7]);
%! assert (isequal (a, b));
%! assert (isequal (quibra (x, y, 0.5, 1, 1, x, y), quibra (x, y, 0.5, 1, 1)));

## A failed local fit yields realmax and the call still succeeds: windows
## of three points leave at most two weighted ones for three coefficients.
%!test
%! [~, r] = evalc ("quibra ((0:9)', (0:9)' .^ 2, 0.2)");
%! assert (r, realmax * ones (10, 1));

## Robust smoothing of data that local polynomials reproduce: the floor
## under the residual scale keeps the plain smooth, to the bit.
%!test
%! t = 0:9;
%! [r, info] = quibra (t, t .^ 2 - 3 * t, 0.5, 1, 2);
%! plain = quibra (t, t .^ 2 - 3 * t, 0.5, 0, 2);
%! assert (typecast (r, "uint64"), typecast (plain, "uint64"));
%! assert (info.outcome, "exact");
%! assert (info.passes, 1);
%! assert (info.weights, ones (1, 10));

## A line with three gross outliers: they get weight 0 and the line comes
## back to within rounding, in a few passes.
%!test
%! t = (0:19)';
%! yl = 2 * t + 1;
%! yl([4 11 17]) += [30; -25; 40];
%! [r, info] = quibra (t, yl, 0.8, 1, 1);
%! assert (r, 2 * t + 1, 1e-9);
%! assert (find (info.weights == 0), [4; 11; 17]);
%! assert (info.outcome, "exact");
%! assert (info.passes <= 3);
%! assert (info.window, 13);

## The second result: its fields, their classes and shapes, for rows and
## columns, plain and robust calls, the nodes form and failed fits.
%!test
%! [r, info] = quibra (x, y);
%! assert (fieldnames (info), {"outcome"; "passes"; "converged"; "weights";
%!                             "failed"; "unstable"; "window"; "scale"});
%! assert (isequal (r, quibra (x, y)));
%! assert (info.outcome, "plain");
%! assert (info.passes, 0);
%! assert (islogical (info.converged) && info.converged);
%! assert (info.weights, ones (size (y)));
%! assert (islogical (info.failed) && isequal (size (info.failed), size (r)));
%! assert (info.window, 3);
%! assert (isnan (info.scale));
%! [r, info] = quibra (x', y', 0.5, 1, 1);
%! assert (isequal (r, quibra (x', y', 0.5, 1, 1)));
%! assert (any (strcmp (info.outcome, {"converged", "exhausted"})));
%! assert (info.converged, strcmp (info.outcome, "converged"));
%! assert (size (info.weights), size (y'));
%! assert (all (info.weights >= 0 & info.weights <= 1));
%! assert (info.scale > 0);
%! q = linspace (0, 10, 7);
%! [r, info] = quibra (q, zeros (size (q)), 0.5, 1, 2, x, y);
%! assert (size (info.weights), size (y));
%! assert (size (info.failed), size (q));
%! t = [0 1 2 3 3 3 3 3 3 4 5 6];
%! [~, r, info] = evalc ("quibra (t, t .^ 2, 0.34, 0, 1)");
%! assert (info.failed, r == realmax);
%! assert (find (info.failed), 3:10);
%! [r, info] = quibra (x, zeros (size (x)), 0.5, 1, 1);
%! assert (info.outcome, "abandoned");
%! assert (info.weights, ones (size (x)));

## Several signals: a row per element of X (a row or a column), a column
## each, every column the call with its signal alone; info's per-point
## fields a column each, its per-call fields an entry each, outcome a cell
## row. The nodes form takes [] for Y and a matrix of signals as nodes_y.
%!test
%! Y = [y, 2 * y - 1, x];
%! for robust = [false true]
%!   [r, info] = quibra (x, Y, 0.5, robust, 1);
%!   [r_row, info_row] = quibra (x', Y, 0.5, robust, 1);
%!   assert (size (r), [16 3]);
%!   assert (isequal (r, r_row) && isequaln (info, info_row));
%!   assert (size (info.weights), [16 3]);
%!   assert (size (info.failed), [16 3]);
%!   assert ([size(info.passes); size(info.converged); size(info.window); size(info.scale)],
%!           repmat ([1 3], 4, 1));
%!   assert (iscell (info.outcome) && isequal (size (info.outcome), [1 3]));
%!   for j = 1:3
%!     [alone, info_j] = quibra (x, Y(:, j), 0.5, robust, 1);
%!     assert (isequal (r(:, j), alone));
%!     assert (isequal (info.weights(:, j), info_j.weights));
%!     assert (info.outcome{j}, info_j.outcome);
%!   endfor
%! endfor
%! q = linspace (0, 10, 7);
%! r = quibra (q, [], 0.5, 0, 2, x, [y, -y]);
%! assert (size (r), [7 2]);
%! assert (isequal (r(:, 2)', quibra (q, zeros (size (q)), 0.5, 0, 2, x, -y)));
%! assert (isequal (quibra (q, zeros (7, 0), 0.5, 0, 2, x, y), quibra (q, [], 0.5, 0, 2, x, y)));
%!error <Y must have as many rows as X has elements.> quibra (x, [y, y]')
%!error <Y must have as many rows as X has elements.> quibra (x', [y, y]')
%!error <Y must be a noncomplex double vector!!!> quibra (x, zeros (16, 0))
%!error <Y must be a noncomplex double vector!!!> quibra (x, [y, y] + 1i)
%!error <Y must not have more than two dimensions.> quibra (x, cat (3, y, y))
%!error <Y must not have more than two dimensions.> quibra (x, ones (3, 2, 2))
%!error <X and Y must have the same length!!!> quibra (ones (4), [], 0.2, 0, 2, x, y)
%!error <nodes_y must be a noncomplex double vector!!!> quibra (x, [], 0.2, 0, 2, x, zeros (16, 0))
%!error <nodes_y must not have more than two dimensions.> quibra (x, [], 0.2, 0, 2, x, cat (3, y, y))
%!error <nodes_y must have as many rows as nodes_x has elements.> quibra (x, [], 0.2, 0, 2, x, [y, y]')

## Argument errors, in the order they are checked.
%!error <Too many output arguments.> [a, b, c] = quibra (x, y)
%!error <Wrong number of input arguments.> [a, b, c] = quibra (x)
%!error <Wrong number of input arguments.> quibra ()
%!error <Wrong number of input arguments.> quibra (x)
%!error <Wrong number of input arguments.> quibra (x, y, 0.2, 0, 2, x)
%!error <Wrong number of input arguments.> quibra (x, y, 0.2, 0, 2, x, y, 1)
%!error <X must be a noncomplex double vector!!!> quibra ([], y)
%!error <X must be a noncomplex double vector!!!> quibra (zeros (0, 3), y)
%!error <X must be a noncomplex double vector!!!> quibra (single (x), y)
%!error <X must be a noncomplex double vector!!!> quibra (int32 (x), y)
%!error <X must be a noncomplex double vector!!!> quibra (x + 1i, y)
%!error <X must be a noncomplex double vector!!!> quibra (sparse (x), y)
%!error <X must be a noncomplex double vector!!!> quibra ("abc", y)
%!error <Y must be a noncomplex double vector!!!> quibra (x, logical (y))
%!error <Y must be a noncomplex double vector!!!> quibra (x, sparse (y))
%!error <X and Y must have the same length!!!> quibra (x, y(2:end))
%!error <X and Y must have the same length!!!> quibra (x', y)
%!error <a row per row of X> quibra (ones (3), ones (2))
%!error <f must be a noncomplex scalar double.> quibra (x, y, [0.2 0.3])
%!error <f must be a noncomplex scalar double.> quibra (x, y, sparse (0.2))
%!error <f must be a noncomplex scalar double.> quibra (x, y, 0.2i)
%!error <f must not be NaN.> quibra (x, y, NaN)
%!error <f must not be NaN.> quibra (x, y, NaN, 0, 2, x, y)
%!error <robust must be a noncomplex scalar double.> quibra (x, y, 0.2, int8 (1))
%!assert (quibra (x, y, 0.2, true), quibra (x, y, 0.2, 1))
%!assert (quibra (x, y, 0.2, false), quibra (x, y, 0.2, 0))
%!error <degree must be a noncomplex scalar double.> quibra (x, y, 0.2, 0, int32 (2))
%!error <degree must not be negative.> quibra (x, y, 0.2, 0, -1)
%!error <degree is too large.> quibra (x, y, 0.2, 0, 101)
%!error <degree is too large.> quibra (x, y, 0.2, 0, Inf)
%!error <nodes_x must be a noncomplex double vector!!!> quibra (x, y, 0.2, 0, 2, [], y)
%!error <nodes_y must be a noncomplex double vector!!!> quibra (x, y, 0.2, 0, 2, x, sparse (y))
%!error <nodes_x and nodes_y must have the same length!!!> quibra (x, y, 0.2, 0, 2, x, y(2:end))
## The first failing check wins.
%!error <X must be a noncomplex double vector!!!> quibra ([], [], "bad")
%!error <f must be a noncomplex scalar double.> quibra (x, y, [], [], -1)
%!error <degree must not be negative.> quibra (x, y, 0.2, 0, -2, [], [])
## Limits that are accepted.
%!test
%! assert (size (quibra (x, y, 0.2, 0, 100)), size (x));
%! assert (size (quibra (x, y, 0.2, 0, -0.5)), size (x));
%! assert (size (quibra (x, y, 0.2, NaN, NaN)), size (x));

## The robust path ends on hostile data: missing values, infinities, one
## point, one abscissa, all-zero ordinates. Every result is a double of the
## right shape; a robust attempt that cannot weight anything gives the
## plain smooth.
%!test
%! t = (1:40)';
%! noisy = sin (t / 4) + mod (t * 7, 5) / 10;
%! with_nan = noisy;
%! with_nan([3 17 18 33]) = NaN;
%! with_inf = noisy;
%! with_inf([5 30]) = [Inf -Inf];
%! x_nan = t;
%! x_nan([2 21]) = NaN;
%! cases = {{t, with_nan}, {t, with_inf}, {x_nan, noisy}, {5, 7}, ...
%!          {3 * ones(40, 1), noisy}, {t, zeros(40, 1)}};
%! for k = 1:numel (cases)
%!   c = cases{k};
%!   for degree = 0:2
%!     [~, r] = evalc ("quibra (c{1}, c{2}, 0.3, 1, degree)");
%!     assert (size (r), size (c{1}));
%!     assert (class (r), "double");
%!   endfor
%! endfor
%! [~, plain] = evalc ("quibra (t, zeros (40, 1), 0.3, 0, 1)");
%! [~, robust] = evalc ("quibra (t, zeros (40, 1), 0.3, 1, 1)");
%! assert (isequal (robust, plain));

## Diagnostics go to standard error as whole lines, never to the console.
%!test
%! octave = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
%! dir = fileparts (which ("quibra"));
%! code = sprintf ("addpath ('%s'); quibra ((0:9)', (0:9)' .^ 2, 0.2);", dir);
%! errfile = [tempname() ".err"];
%! cmd = sprintf ('"%s" --no-init-file --no-history --quiet --eval "%s" 2>"%s"', octave, code, errfile);
%! [status, out] = system (cmd);
%! err = fileread (errfile);
%! delete (errfile);
%! assert (status, 0);
%! assert (out, "");
%! assert (err, repmat ("Error: Singular matrix inversion attempted.\n", 1, 10));
