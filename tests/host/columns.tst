## Several signals in one call: every column of the result and of info has
## the bits of the call made with that column alone, for every form and
## option; and the lines on standard error come out column after column.

## Bit for bit, NaN included; cells and logicals by value.
%!function same (a, b, what)
%!  if (iscell (a) || ischar (a) || islogical (a))
%!    ok = isequal (a, b);
%!  else
%!    ok = isequal (size (a(:)), size (b(:))) ...
%!         && all (typecast (a(:), "uint64") == typecast (b(:), "uint64"));
%!  endif
%!  if (! ok)
%!    error ("columns: %s differs from the call with that column alone", what);
%!  endif
%!endfunction

## run(Y) makes the call with ordinates Y; a single column is passed as a
## row when the call wants rows (row X, or a row nodes_x).
%!function check_columns (run, Y, rowwise, label)
%!  per_point = {"weights", "failed", "unstable", "se", "lower", "upper", "lowered"};
%!  k = columns (Y);
%!  if (rowwise && k == 1)
%!    [ym, im] = run (Y.');  # one column with a row X is today's row call
%!    ym = ym(:);
%!  else
%!    [ym, im] = run (Y);
%!  endif
%!  assert (columns (ym), k);
%!  for c = 1:k
%!    yc = Y(:, c);
%!    if (rowwise)
%!      yc = yc.';
%!    endif
%!    [y1, i1] = run (yc);
%!    what = sprintf ("%s, column %d", label, c);
%!    same (ym(:, c), y1(:), [what ": result"]);
%!    assert (fieldnames (im), fieldnames (i1));
%!    for f = fieldnames (i1)'
%!      v = im.(f{1});
%!      w = i1.(f{1});
%!      if (k == 1)
%!        same (v, w, [what ": " f{1}]);
%!      elseif (iscell (v))
%!        same (v{c}, w, [what ": " f{1}]);
%!      elseif (any (strcmp (f{1}, per_point)))
%!        same (v(:, c), w(:), [what ": " f{1}]);
%!      else
%!        same (v(c), w, [what ": " f{1}]);
%!      endif
%!    endfor
%!  endfor
%!endfunction

## Random data of 1 to 9 columns with missing and infinite ordinates, tied
## abscissae and a missing one, against every form and option.
%!test
%! rand ("seed", 7);
%! randn ("seed", 7);
%! n = 48;
%! x = round (40 * rand (n, 1)) / 4;
%! x(9) = NaN;
%! q = linspace (-2, 12, 23)';
%! w = 0.5 + rand (n, 1);
%! options = {{}, {"Delta", 0.7}, {"Delta", 0}, {"Weights", w}, ...
%!            {"Missing", "omit"}, {"Intervals", "confidence"}, ...
%!            {"Intervals", "prediction", "Level", 0.9}, {"Span", "aicc"}, ...
%!            {"Span", "gcv", "SpanRange", [0.2 0.8]}, {"Fallback", "lower"}, ...
%!            {"FailedValue", NaN}, {"MaxPasses", 2}};
%! for o = 1:numel (options)
%!   opt = options{o};
%!   k = 1 + mod (3 * o, 9);
%!   Y = [sin(x), x / 3, randn(n, k)](:, 1:k);
%!   Y(3, end) = NaN;
%!   Y(20, 1) = Inf;
%!   for robust = [0 1]
%!     degree = mod (o, 3);
%!     label = sprintf ("option %d, robust %d", o, robust);
%!     check_columns (@(v) quibra (x, v, 0.3, robust, degree, opt{:}), Y, false,
%!                    [label ", column X"]);
%!     check_columns (@(v) quibra (x', v, 0.3, robust, degree, opt{:}), Y, true,
%!                    [label ", row X"]);
%!     if (! any (strcmp (opt(1:2:end), "Span")))
%!       check_columns (@(v) quibra (q, [], 0.3, robust, degree, x, v, opt{:}), Y,
%!                      false, [label ", nodes"]);
%!     endif
%!   endfor
%! endfor

## Enough data for the fits to run in groups of lanes and on several
## threads, each column with its own trouble: a narrow window on rounded
## abscissae fails in places, and the plain path shares its fits.
%!test
%! rand ("seed", 3);
%! n = 3000;
%! x = round (200 * rand (n, 1)) / 20;
%! Y = [sin(x), cos(x), x, -x, sin(2 * x), x .^ 2, rand(n, 3)];
%! for robust = [0 1]
%!   check_columns (@(v) quibra (x, v, 0.004, robust, 2, "Diagnostics", "off"), Y,
%!                  false, sprintf ("large, robust %d", robust));
%!   check_columns (@(v) quibra (x, v, 0.004, robust, 2, "Fallback", "lower"), Y,
%!                  false, sprintf ("large lowered, robust %d", robust));
%!   check_columns (@(v) quibra (x, v, 0.01, robust, 1, "Missing", "omit",
%!                               "Diagnostics", "off"), Y, false,
%!                  sprintf ("large, nothing to omit, robust %d", robust));
%! endfor

## The lines on standard error are those of the calls column by column, in
## that order.
%!test
%! octave = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
%! dir = fileparts (which ("quibra"));
%! setup = "t = [0 1 2 3 3 3 3 3 3 4 5 6]'; Y = [t.^2, -t, t.^3];";
%! calls = {"quibra (t, Y, 0.34, %d, 1);", ...
%!          "for c = 1:3, quibra (t, Y(:, c), 0.34, %d, 1); end"};
%! for robust = [0 1]
%!   err = cell (1, 2);
%!   for k = 1:2
%!     code = sprintf (["addpath ('%s'); " setup " " calls{k}], dir, robust);
%!     errfile = [tempname() ".err"];
%!     cmd = sprintf ('"%s" --no-init-file --no-history --quiet --eval "%s" 2>"%s"',
%!                    octave, code, errfile);
%!     [status, ~] = system (cmd);
%!     err{k} = strsplit (fileread (errfile), "\n");
%!     delete (errfile);
%!     assert (status, 0);
%!   endfor
%!   lines = @(e) e(strncmp (e, "Error:", 6) | strncmp (e, "Warning:", 8));
%!   assert (numel (lines (err{1})) >= 3);
%!   assert (lines (err{1}), lines (err{2}));
%! endfor
