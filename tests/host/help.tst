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
%!          {x, x, 0.2, true}, {x, x, 0.2, 0, int8(2)}, {x, x, 0.2, 0, -1}, ...
%!          {x, x, 0.2, 0, 101}, {x, x, 0.2, 0, 2, [], x}, ...
%!          {x, x, 0.2, 0, 2, x, []}, {x, x, 0.2, 0, 2, x, x(2:end)}};
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
%! try
%!   [a, b, c] = quibra (x, x);
%!   error ("three results did not fail");
%! catch err
%!   msg = regexprep (err.message, '^quibra: ', '');
%!   assert (! isempty (strfind (text, msg)), "help lacks: %s", msg);
%!   assert (! any (strcmp (msg, seen)));
%! end_try_catch

## The second result's fields are all described.
%!test
%! text = evalc ("help quibra");
%! [~, info] = quibra ((1:5)', (1:5)');
%! for f = fieldnames (info)'
%!   assert (! isempty (regexp (text, ['\n%?\s+' f{1} '\s'], "once")), "help lacks field %s", f{1});
%! endfor
