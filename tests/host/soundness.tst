## Ordinary data that the normal equations used to get wrong: abscissae far
## from zero against their spread, windows with too few distinct abscissae
## carrying weight, and NaN abscissae.

## The weighted least-squares fit at xq of the window of q nearest points,
## solved by QR in coordinates centred at xq: an independent check.
%!function v = centred_fit (x, y, xq, q, degree)
%!  d = abs (x - xq);
%!  s = sort (d);
%!  h = s(q);
%!  w = zeros (size (x));
%!  in = d < h;
%!  w(in) = (1 - (d(in) / h) .^ 3) .^ 3;
%!  A = (x(in) - xq) .^ (0:degree);
%!  r = sqrt (w(in));
%!  c = (r .* A) \ (r .* y(in));
%!  v = c(1);
%!endfunction

%!function check_against_centred (x, y, f, degree, tol)
%!  q = min (numel (x), max (floor (numel (x) * f), degree + 1));
%!  got = quibra (x, y, f, 0, degree);
%!  for i = 1:numel (x)
%!    want = centred_fit (x, y, x(i), q, degree);
%!    assert (abs (got(i) - want) <= tol, "x = %.10g: %.12g, want %.12g", x(i), got(i), want);
%!  endfor
%!endfunction

## Time stamps: date numbers a minute apart; monthly years; abscissae
## between 4.19 and 4.44 with local quartics.
%!test
%! t = (0:199)';
%! y = sin (t / 15) + 0.3 * cos (t / 3);
%! check_against_centred (738000 + t / 1440, y, 0.1, 2, 1e-6);
%! check_against_centred (738000 + t / 1440, y, 0.3, 1, 1e-6);
%! m = (0:12*70)';
%! check_against_centred (1950 + m / 12, sin (m / 20) + mod (m, 7) / 10, 0.02, 2, 1e-6);
%! x = linspace (4.19, 4.44, 80)';
%! check_against_centred (x, sin (40 * x), 0.3, 4, 1e-6);
%! ## The mirror image below zero.
%! check_against_centred (-738000 - t / 1440, y, 0.1, 2, 1e-6);

## Moving the data does not change the smooth: data already next to zero,
## or reaching it, keep their bits; moved data match the same points moved
## by hand wherever that subtraction is exact.
%!test
%! t = (0:99)';
%! y = cos (t / 7);
%! x = 1 + t / 128;             # [1, 1.77]: moved by 1.38671875, exactly
%! assert (isequal (quibra (x, y, 0.2, 1, 2), quibra (x - 1.38671875, y, 0.2, 1, 2)));
%! assert (isequal (quibra (t, y), quibra (t, y, 0.2, 0, 2, t, y)));

## Fewer distinct weighted abscissae than coefficients fail, whatever the
## order of the rows.
%!test
%! rand ("seed", 1);
%! x = [3.0 * ones(11, 1); 3.1 * ones(11, 1); 3.2 * ones(11, 1)];
%! y = rand (33, 1);
%! for k = 1:20
%!   p = randperm (33);
%!   [~, r] = evalc ("quibra (3.1, 0, 1, 0, 1, x(p), y(p))");
%!   assert (r, realmax);
%! endfor
%! [~, r] = evalc ("quibra ((0:9)', sin ((0:9)'), 0.2, 0, 2)");
%! assert (r, realmax (10, 1));

## A negative span leaves windows of degree + 1 points, the farthest at
## weight 0: every fit fails, with one line each on standard error.
%!test
%! octave = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
%! dir = fileparts (which ("quibra"));
%! code = sprintf ("addpath ('%s'); r = quibra ((1:50)', sin ((1:50)'), -1, 0, 2); exit (any (r != realmax));", dir);
%! errfile = [tempname() ".err"];
%! status = system (sprintf ('"%s" --no-init-file --no-history --quiet --eval "%s" 2>"%s"', octave, code, errfile));
%! err = fileread (errfile);
%! delete (errfile);
%! assert (status, 0);
%! assert (err, repmat ("Error: Singular matrix inversion attempted.\n", 1, 50));

## A NaN abscissa takes no part: every other result is the call without
## that point, to the bit, and its own is NaN; NaN queries give NaN.
%!test
%! rand ("seed", 4);
%! x = sort (10 * rand (200, 1));
%! y = sin (x) + 0.2 * rand (200, 1);
%! k = find (x > 4, 1);
%! xn = x;
%! xn(k) = NaN;
%! keep = [1:k-1, k+1:200]';
%! for robust = 0:1
%!   got = quibra (xn, y, 0.3, robust, 2);
%!   assert (isnan (got(k)));
%!   assert (isequal (got(keep), quibra (x(keep), y(keep), 0.3, robust, 2, x(keep), y(keep))));
%! endfor
%! assert (quibra ([1 NaN 3], [0 0 0], 0.5, 0, 2, x, y)(2), NaN);
%! assert (isnan (quibra ([NaN NaN], [1 2])));

## Columns fitted together share their windows and solves, never their
## ordinates: a NaN or an infinity in one signal stays in its column, and
## with 'Missing' 'omit' each signal leaves out its own NaN only.
%!test
%! x = (0:39)';
%! y = sin (x / 5);
%! Y = [y, y, y, cos(x / 3)];
%! Y(12, 2) = NaN;
%! Y(30, 3) = -Inf;
%! for robust = 0:1
%!   for opts = {{}, {"Missing", "omit"}}
%!     r = quibra (x, Y, 0.3, robust, 2, opts{1}{:});
%!     for j = 1:4
%!       assert (isequaln (r(:, j), quibra (x, Y(:, j), 0.3, robust, 2, opts{1}{:})));
%!     endfor
%!     assert (isequal (r(:, 1), quibra (x, y, 0.3, robust, 2)));
%!     assert (any (isnan (r(:, 2))), isempty (opts{1}));
%!   endfor
%! endfor
