## Name-value options in the host: identifiers, Missing and Weights against
## removal by hand, Delta against an m-code reading of its rule, and the
## warnings of Diagnostics.

%!shared x, y
%! rand ("seed", 11); randn ("seed", 11);
%! x = 10 * rand (300, 1);
%! y = sin (x) + 0.3 * randn (300, 1);

%!test
%! try
%!   quibra (x, y, 0.2, 0, 2, "Delta", -1);
%!   error ("did not fail");
%! catch err
%!   assert (err.identifier, "quibra:Delta");
%! end_try_catch
%! try
%!   quibra (x, y, 0.2, 0, 2, x);
%!   error ("did not fail");
%! catch err
%!   assert (err.identifier, "quibra:nargin");
%! end_try_catch
%! try
%!   quibra (x, y, "Method", "slow");
%!   error ("did not fail");
%! catch err
%!   assert (err.identifier, "quibra:Method");
%! end_try_catch

%!error <Unknown option 'Spam'.> quibra (x, y, "Spam", 1)

## However long an unknown name, the message shows its first 40 characters
## (and "..." when there are more), never bytes the call did not write.
%!test
%! alphabet = char ("a":"z");
%! for n = [40 63 64 65 100 1000]
%!   name = alphabet(mod (0:n-1, 26) + 1);
%!   want = ["Unknown option '" name(1:min (n, 40))];
%!   if (n > 40) want = [want "..."]; endif
%!   try
%!     quibra (x, y, name, 0);
%!     error ("did not fail");
%!   catch err
%!     assert (err.identifier, "quibra:optionUnknown");
%!     assert (err.message, ["quibra: " want "'."]);
%!     assert (all (isprint (err.message)));
%!   end_try_catch
%! endfor
%!error <Option 'Delta' is given twice.> quibra (x, y, "delta", 1, "DELTA", 1)
%!error <Options must come in name-value pairs.> quibra (x, y, 0.3, "Delta")
%!error <Option names must be char row vectors.> quibra (x, y, "Delta", 1, 2, 3)
%!error <Option names must be char row vectors.> quibra (x, y, "Delta", 1, ["ab"; "cd"], 3)
%!error <Delta must be a finite noncomplex scalar double .= 0.> quibra (x, y, "Delta", Inf)
%!error <Delta must be a finite noncomplex scalar double .= 0.> quibra (x, y, "Delta", [])
%!error <MaxPasses must be an integer from 1 to 100.> quibra (x, y, "MaxPasses", 3.5)
%!error <Weights must be a noncomplex double vector as long as the data.> quibra (x, y, "Weights", ones (299, 1))
%!error <Weights must be a noncomplex double vector as long as the data.> quibra (x, y, "Weights", sparse (ones (300, 1)))
%!error <Weights must be finite and .= 0.> quibra (x, y, "Weights", -ones (300, 1))
%!error <Missing must be 'propagate' or 'omit'.> quibra (x, y, "Missing", 1)
%!error <FailedValue must be a noncomplex scalar double.> quibra (x, y, "FailedValue", int8 (1))
%!error <Diagnostics must be 'stderr', 'warning' or 'off'.> quibra (x, y, "Diagnostics", "none")
%!error <Threads must be an integer from 1 to 1024.> quibra (x, y, "Threads", 0)
%!error <Method must be 'direct' or 'fast'.> quibra (x, x, "Method", "slow")
%!error <Method must be 'direct' or 'fast'.> quibra (x, x, "Method", 1)
%!error <Method must be 'direct' or 'fast'.> quibra (x, x, "method", {"fast"})
%!error <No data point is left: every one is missing or has weight 0.> quibra (x, y, "Weights", zeros (300, 1))

## Omitted and zero-weight points: the same bits as removing them by hand.
%!test
%! ym = y;
%! gone = [4 50 51 199];
%! ym(gone) = NaN;
%! keep = setdiff (1:300, gone);
%! w = ones (300, 1);
%! w(gone) = 0;
%! for robust = [0 1]
%!   by_hand = quibra (x, y, 0.3, robust, 1, x(keep), y(keep));
%!   assert (isequal (quibra (x, ym, 0.3, robust, 1, "Missing", "omit"), by_hand));
%!   assert (isequal (quibra (x, y, 0.3, robust, 1, "Weights", w'), by_hand));
%! endfor
%! spread = quibra (x, ym, 0.3);
%! assert (isnan (spread(gone)));

## Delta: which points are fitted, and the lines between, read from its
## rule in m-code around exact fits (the nodes form) of those points.
%!test
%! for delta = [0.05 0.5 3 20]
%!   [xs, order] = sort (x);
%!   fitted = 1;
%!   a = 1;
%!   n = numel (xs);
%!   while (true)
%!     t = a + 1;
%!     while (t <= n && xs(t) == xs(a)) t++; endwhile
%!     if (t > n) break; endif
%!     b = t;
%!     while (b < n && xs(b + 1) <= xs(a) + delta) b++; endwhile
%!     fitted(end+1) = b;
%!     a = b;
%!   endwhile
%!   v = quibra (xs(fitted), xs(fitted), 0.3, 0, 2, x, y);
%!   want = zeros (n, 1);
%!   for i = 1:numel (fitted)
%!     last = n;
%!     if (i < numel (fitted)) last = fitted(i+1) - 1; endif
%!     for k = fitted(i):last
%!       if (xs(k) == xs(fitted(i)))
%!         want(k) = v(i);
%!       else
%!         alpha = (xs(k) - xs(fitted(i))) / (xs(fitted(i+1)) - xs(fitted(i)));
%!         want(k) = alpha * v(i+1) + (1 - alpha) * v(i);
%!       endif
%!     endfor
%!   endfor
%!   got = quibra (x, y, 0.3, 0, 2, "Delta", delta);
%!   assert (isequal (got(order), want), sprintf ("Delta %g", delta));
%! endfor
%! ## Close to the exact smooth for a small Delta, robust passes included.
%! exact = quibra (x, y, 0.3, 1, 1);
%! assert (quibra (x, y, 0.3, 1, 1, "Delta", 0.01), exact, 1e-3);

## FailedValue, and Diagnostics as warnings that can be read and silenced.
%!test
%! t = (0:9)';
%! [~, plain] = evalc ("quibra (t, t .^ 2, 0.2)");
%! gaps = quibra (t, t .^ 2, 0.2, "FailedValue", NaN, "Diagnostics", "off");
%! assert (isnan (gaps), plain == realmax);
%! lastwarn ("");
%! state = warning ("query", "quibra:singular");
%! unwind_protect
%!   warning ("on", "quibra:singular");
%!   warning ("off", "backtrace", "local");
%!   [out, warned] = evalc ("quibra (t, t .^ 2, 0.2, 'Diagnostics', 'warning')");
%!   assert (isequal (warned, plain));
%!   [msg, id] = lastwarn ();
%!   assert (id, "quibra:singular");
%!   assert (regexprep (msg, "^quibra: ", ""), sprintf ("%d local fits failed: their systems were singular.", sum (plain == realmax)));
%!   lastwarn ("");
%!   warning ("off", "quibra:singular");
%!   evalc ("quibra (t, t .^ 2, 0.2, 'Diagnostics', 'warning')");
%!   [~, id] = lastwarn ();
%!   assert (id, "");
%! unwind_protect_cleanup
%!   warning (state.state, "quibra:singular");
%! end_unwind_protect
