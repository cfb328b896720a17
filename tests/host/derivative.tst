## 'Derivative' against exact derivatives and an independent QR solve of the
## same windows (qr_smooth.m), its band, how it meets the other options,
## and 'Window'.

%!shared x, y
%! rand ("seed", 27); randn ("seed", 27);
%! x = 5000 + 40 * rand (300, 1);   # far from zero against the spread
%! y = sin (x / 6) + 0.1 * randn (300, 1);

## A polynomial of the fit's degree is reproduced with all its derivatives,
## at the data and beyond them (fitted about its window's middle).
%!test
%! t = x - 5000;
%! p = 2 - 0.3 * t + 0.02 * t .^ 2 - 4e-4 * t .^ 3;
%! want = {-0.3 + 0.04 * t - 12e-4 * t .^ 2, 0.04 - 24e-4 * t, -24e-4 * ones(300, 1)};
%! q = [4990; 4995; 5045; 5050];
%! tq = q - 5000;
%! beyond = {-0.3 + 0.04 * tq - 12e-4 * tq .^ 2, 0.04 - 24e-4 * tq, -24e-4 * ones(4, 1)};
%! for k = 1:3
%!   assert (quibra (x, p, 0.5, 0, 3, "Derivative", k), want{k}, -1e-9);
%!   assert (quibra (q, [], 0.5, 0, 3, x, p, "Derivative", k), beyond{k}, -1e-9);
%! endfor

## Narrow windows on ordinates far from zero: the sums are of y less a
## centre, so the high orders lose no more than the ordinates' own rounding
## (summed raw, the third derivative lost 3 more digits).
%!test
%! xs = 738000 + (0:1999)' * 0.5 + 0.2 * sin ((0:1999)');
%! t = (xs - 738500) / 500;
%! p = 2e3 + 3 * t - 2 * t .^ 2 + 1.5 * t .^ 3;
%! d2 = quibra (xs, p, [], 0, 3, "Window", 40, "Derivative", 2);
%! assert (d2, (-4 + 9 * t) / 500 ^ 2, 1e-8 * 14 / 500 ^ 2);
%! d3 = quibra (xs, p, [], 0, 3, "Window", 40, "Derivative", 3);
%! assert (d3, 9 / 500 ^ 3 * ones (2000, 1), 1e-6 * 9 / 500 ^ 3);

## Values and standard errors against the QR solve: sigma times the norm of
## the derivative's row of the hat matrix; sigma and dof are the smooth's.
%!test
%! [~, plain] = quibra (x, y, 0.2, 0, 3, "Intervals", "confidence");
%! q = [x(1:40); 4985; 5055];
%! for k = 1:3
%!   [d, info] = quibra (q, [], 0.2, 0, 3, x, y, "Derivative", k, "Intervals", "confidence");
%!   [want, lnorm2] = qr_smooth (x, y, 0.2, 3, q, [], false, k);
%!   assert (d, want, 1e-9 * max (abs (want)));
%!   assert (info.se, plain.sigma * sqrt (lnorm2), -1e-9);
%!   assert (info.dof, plain.dof);
%!   assert (info.sigma, plain.sigma, -1e-12);
%!   t = (info.upper - d) ./ info.se;
%!   assert (d - info.lower, t .* info.se, -1e-12);
%!   assert (t, t(1) * ones (size (t)), -1e-12);
%! endfor

## 'Derivative' 0 is the call without it, bit for bit, band included.
%!test
%! [a, ia] = quibra (x, y, 0.3, 1, 2, "Intervals", "confidence");
%! [b, ib] = quibra (x, y, 0.3, 1, 2, "Intervals", "confidence", "Derivative", 0);
%! assert (isequal (a, b) && isequal (ia, ib));

## Several signals: each column's derivative and band are its call's alone;
## robust passes: the derivative of the final weighted fit; a 'Delta' finer
## than the data's spacing fits every point.
%!test
%! Y = [y, 3 * y + x / 100, -y];
%! [d, info] = quibra (x, Y, 0.3, 0, 2, "Derivative", 1, "Intervals", "confidence");
%! for c = 1:3
%!   [dc, ic] = quibra (x, Y(:,c), 0.3, 0, 2, "Derivative", 1, "Intervals", "confidence");
%!   assert (isequal (d(:,c), dc) && isequal (info.se(:,c), ic.se));
%! endfor
%! [r, ir] = quibra (x, y, 0.3, 1, 2, "Derivative", 2);
%! w = quibra (x, y, 0.3, 0, 2, "Weights", ir.weights, "Derivative", 2);
%! assert (r, w, 1e-12 * max (abs (r)));
%! fine = min (diff (sort (x))) / 2;
%! assert (isequal (quibra (x, y, 0.3, 0, 2, "Derivative", 1, "Delta", fine),
%!                  quibra (x, y, 0.3, 0, 2, "Derivative", 1)));

## At the data the band's sigma comes from the values the derivative's own
## fits give beside it; a 'Delta' finer than the spacing makes them apart,
## with the same bits. Far from zero they are the smooth's to its rounding.
%!test
%! fine = min (diff (sort (x))) / 2;
%! for off = [0 2e3 1e6]
%!   [a, ia] = quibra (x, y + off, 0.3, 0, 2, "Derivative", 1, "Intervals", "confidence");
%!   [b, ib] = quibra (x, y + off, 0.3, 0, 2, "Derivative", 1, "Intervals", "confidence",
%!                     "Delta", fine);
%!   [~, p] = quibra (x, y + off, 0.3, 0, 2, "Intervals", "confidence");
%!   assert (isequal (a, b) && isequal (ia.se, ib.se) && ia.sigma == ib.sigma);
%!   assert (ia.dof, p.dof);
%!   assert (ia.sigma, p.sigma, 10 * eps (1 + off));
%! endfor
%! xl = [0 0 0 1 1 1 2 3 4 5 6 7 8 9]';    # lowered fits, after robust passes
%! yl = 100 + xl .^ 2 + 0.1 * sin (1:14)';
%! band = {"Derivative", 1, "Fallback", "lower", "Intervals", "confidence"};
%! [~, ia] = quibra (xl, yl, 0.3, 2, 2, band{:});
%! [~, ib] = quibra (xl, yl, 0.3, 2, 2, band{:}, "Delta", 0.25);
%! assert (any (ia.lowered) && isequal (ia.se, ib.se) && ia.sigma == ib.sigma);

## Several orders: a page each, every per-query field of info too. Each
## derivative's page is its call alone, bit for bit, band included; the
## value's page comes from the same centred sums, so it is the smooth to
## its rounding, and one sigma serves every page.
%!test
%! Y = [y, 2e3 + x / 10];
%! [d, info] = quibra (x', Y(:,1)', 0.3, 1, 2, "Derivative", [2 0 1], "Intervals", "confidence");
%! assert (size (d) == [1 300 3] && size (info.se) == [1 300 3] && size (info.failed) == [1 300 3]);
%! [p, ip] = quibra (x, Y, 0.3, 0, 2, "Derivative", [2 0 1], "Intervals", "confidence",
%!                   "Fallback", "lower");
%! assert (size (p) == [300 2 3] && size (ip.lowered) == [300 2 3] && size (ip.sigma) == [1 2]);
%! for c = 1:2
%!   for k = [2 1]
%!     [dk, ik] = quibra (x, Y(:,c), 0.3, 0, 2, "Derivative", k, "Intervals", "confidence",
%!                        "Fallback", "lower");
%!     page = find ([2 0 1] == k);
%!     assert (isequal (p(:,c,page), dk) && isequal (ip.se(:,c,page), ik.se));
%!     assert (isequal (ip.upper(:,c,page), ik.upper) && ip.sigma(c) == ik.sigma);
%!   endfor
%!   [v, iv] = quibra (x, Y(:,c), 0.3, 0, 2, "Intervals", "confidence", "Fallback", "lower");
%!   assert (p(:,c,2), v, 1e-13 * max (abs (v)));
%!   assert (ip.se(:,c,2), iv.se, 1e-10 * max (iv.se) + 1e-11);
%! endfor
%! assert (p(:,2,2), Y(:,2), 4 * eps (3e3));   # a line, where the raw sums lose 2.5e-11
%! [n1, i1] = quibra (x(1:20), [], 0.3, 0, 3, x, y, "Derivative", [3 1], "Intervals", "confidence");
%! [n3, i3] = quibra (x(1:20), [], 0.3, 0, 3, x, y, "Derivative", 3, "Intervals", "confidence");
%! assert (isequal (n1(:,:,1), n3) && isequal (i1.se(:,:,1), i3.se));

## A window lowered below the derivative's order gives 0, marked lowered;
## abscissae halved to keep distances finite give the same derivative.
%!test
%! xl = [0 0 0 1 1 1 2 3 4 5 6 7 8 9]';
%! yl = xl .^ 2;
%! [d, info] = quibra (xl, yl, 0.3, 0, 2, "Derivative", 2, "Fallback", "lower", ...
%!                     "Intervals", "confidence");
%! low = info.lowered;
%! assert (any (low) && all (d(low) == 0) && all (info.se(low) == 0));
%! assert (d(! low), 2 * ones (nnz (! low), 1), 1e-9);
%! big = quibra (x * 2^1011, y, 0.3, 0, 2, "Derivative", 1);   # beyond 2^1023: halved
%! small = quibra (x * 2^1010, y, 0.3, 0, 2, "Derivative", 1);
%! normal = abs (big) >= realmin;     # a subnormal half loses a bit
%! assert (nnz (normal) > 250 && isequal (2 * big(normal), small(normal)));

## 'Window' k: the bits of the span that gives k points, before and after
## robust passes; and a long series cut into chunks that overlap by k
## points gives, chunk by chunk, the whole call's bits.
%!test
%! [a, ia] = quibra (x, y, [], 1, 2, "Window", 61);
%! [b, ib] = quibra (x, y, 61.5 / 300, 1, 2);
%! assert (isequal (a, b) && ia.window == ib.window);
%! [s, i] = sort (x);
%! assert (isequal (quibra (s, y(i), [], 0, 2, s, y(i), "Window", 300), quibra (s, y(i), 1)));
%! n = 5000;
%! t = cumsum (0.5 + rand (n, 1));
%! v = sin (t / 40) + 0.2 * randn (n, 1);
%! k = 51;
%! whole = quibra (t, v, "Window", k, "Derivative", 1);
%! for first = 1:700:n
%!   last = min (n, first + 699);
%!   from = max (1, first - k);
%!   to = min (n, last + k);
%!   part = quibra (t(from:to), v(from:to), "Window", k, "Derivative", 1);
%!   assert (isequal (part(first-from+1:last-from+1), whole(first:last)));
%! endfor

%!error <Derivative must be an integer from 0 to degree, 2> quibra (x, y, 0.3, 0, 2, "Derivative", 3)
%!error <Derivative must> quibra (x, y, "Derivative", -1)
%!error <Derivative must> quibra (x, y, "Derivative", 0.5)
%!error <Derivative must> quibra (x, y, "Derivative", [1 1])
%!error <Derivative must> quibra (x, y, "Derivative", [])
%!error <Derivative must> quibra (x, y, "Derivative", [0 1; 1 2])
%!error <Derivative must> quibra (x, y, 0.3, 0, 1, "Derivative", [0 1 2])
%!error <has no meaning> quibra (x, y, "Derivative", [0 1], "Intervals", "prediction")
%!error <has no meaning> quibra (x, y, "Derivative", 1, "Intervals", "prediction")
%!error <Window must be an integer from 3 to 300> quibra (x, y, "Window", 2)
%!error <Window must> quibra (x, y, "Window", 301)
%!error <Window must> quibra (x, y, "Window", 50.5)
%!error <Window replaces the span> quibra (x, y, 0.3, "Window", 50)
%!error <Window replaces the span> quibra (x, y, "Window", 50, "Span", 0.3)
%!error <Window replaces the span> quibra (x, y, "Span", "aicc", "Window", 50)
%!error <f must be a noncomplex> quibra (x, y, [])
%!test
%! try
%!   quibra (x, y, "Derivative", 9);
%! catch e
%!   assert (e.identifier, "quibra:Derivative");
%! end_try_catch
%! try
%!   quibra (x, y, 0.2, "Window", 9);
%! catch e
%!   assert (e.identifier, "quibra:WindowSpan");
%! end_try_catch
