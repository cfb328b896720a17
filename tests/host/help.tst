## The help text beside the module: `help quibra` shows it, and it quotes
## every message the module ends a call with word for word, so the two
## cannot drift apart.

%!test
%! text = evalc ("help quibra");
%! assert (! isempty (strfind (text, "QUIBRA  Locally weighted polynomial scatterplot smoothing.")));
%! assert (! isempty (strfind (text, "See also")));

%!test
%! text = evalc ("help quibra");
%! x = (1:5)';
%! calls = {{}, {[], x}, {x, []}, {x, x(2:end)}, {x, x, [0.2 0.3]}, ...
%!          {x, x, 0.2, int8(1)}, {x, x, 0.2, 0, int8(2)}, {x, x, 0.2, 0, -1}, ...
%!          {x, x, 0.2, 0, 101}, {x, x, 0.2, 0, 2, [], x}, ...
%!          {x, x, 0.2, 0, 2, x, []}, {x, x, 0.2, 0, 2, x, x(2:end)}, ...
%!          {x, ones(5, 1, 2)}, {x, ones(4, 2)}, {x, x, 0.2, 0, 2, x, ones(5, 1, 2)}, ...
%!          {x, x, 0.2, 0, 2, x, ones(4, 2)}};
%! seen = {};
%! for k = 1:numel (calls)
%!   try
%!     quibra (calls{k}{:});
%!     error ("call %d did not fail", k);
%!   catch err
%!     msg = regexprep (err.message, '^quibra: ', '');
%!     assert (! isempty (strfind (text, msg)), "help lacks: %s", msg);
%!     seen{end+1} = msg;
%!   end_try_catch
%! endfor
%! assert (numel (unique (seen)), numel (calls));
%!test
%! ## Every option message, and every identifier, is in the help too.
%! text = evalc ("help quibra");
%! x = (1:5)';
%! calls = {{x, x, "Delta"}, {x, x, "Delta", 1, 2, 3}, {x, x, "Spam", 1}, ...
%!          {x, x, "Delta", 1, "delta", 2}, {x, x, "Delta", -1}, ...
%!          {x, x, "MaxPasses", 0}, {x, x, "Weights", [1 1]}, ...
%!          {x, x, "Weights", -x}, {x, x, "Missing", "drop"}, ...
%!          {x, x, "FailedValue", "NaN"}, {x, x, "Diagnostics", 1}, ...
%!          {x, x, "Threads", 0.5}, {x, x, "Intervals", "yes"}, ...
%!          {x, x, "Level", 95}, {x, x, "Span", "cv"}, {x, x, "SpanRange", 0.5}, ...
%!          {x, NaN(5, 1), "Missing", "omit"}, ...
%!          {x, x, "Convention", "R"}, {x, x, "Convention", "lowess", "Method", "fast"}, ...
%!          {x, x, "Convention", "lowess", "Fallback", "lower"}, ...
%!          {x, x, 0.5, 0, 2, "Convention", "lowess"}, ...
%!          {x, x, "Convention", "loess", "Method", "fast"}, ...
%!          {x, x, "Convention", "loess", "Delta", 1}, ...
%!          {x, x, 0.5, 0, 3, "Convention", "loess"}, ...
%!          {x, x, 0.3, "Convention", "loess"}, {x, x, NaN}, {x}, {[], x}};
%! for k = 1:numel (calls)
%!   try
%!     quibra (calls{k}{:});
%!     error ("call %d did not fail", k);
%!   catch err
%!     msg = regexprep (err.message, '^quibra: ', '');
%!     msg = regexprep (msg, "'Spam'|'Delta'", "'NAME'");
%!     msg = regexprep (msg, "counterpart of .*\\.$", "counterpart of WHAT.");
%!     msg = regexprep (msg, "= \\d+ points; floor\\(f n\\) is \\d+", "= K points; floor(f n) is M");
%!     assert (! isempty (strfind (text, msg)), "help lacks: %s", msg);
%!     id = ["[" err.identifier "]"];
%!     assert (! isempty (strfind (text, id)), "help lacks: %s", id);
%!   end_try_catch
%! endfor

## A third result is an error, which the help quotes too.
%!test
%! text = evalc ("help quibra");
%! try
%!   [a, b, c] = quibra ((1:5)', (1:5)');
%!   error ("three results did not fail");
%! catch err
%!   msg = regexprep (err.message, '^quibra: ', '');
%!   assert (! isempty (strfind (text, msg)), "help lacks: %s", msg);
%!   assert (! isempty (strfind (text, ["[" err.identifier "]"])));
%! end_try_catch

## The second result's fields are all described.
%!test
%! text = evalc ("help quibra");
%! [~, info] = quibra ((1:9)', (1:9)', "Intervals", "confidence", "Span", "gcv");
%! for f = fieldnames (info)'
%!   assert (! isempty (regexp (text, ['\n%?\s+' f{1} '\s'], "once")), "help lacks field %s", f{1});
%! endfor
