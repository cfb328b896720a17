## The real module in the host reproduces every golden result to the last bit.

%!function cases = golden_cases ()
%!  file = getenv ("QUIBRA_GOLDEN_FILE");
%!  if (isempty (file))
%!    file = fullfile (fileparts (mfilename ("fullpath")), "..", "golden", "cases.txt");
%!  endif
%!  cases = read_golden (file);
%!endfunction

%!test
%! cases = golden_cases ();
%! assert (numel (cases) >= 30);
%! for k = 1:numel (cases)
%!   c = cases{k};
%!   [~, y] = evalc ("quibra (c.in{:})");
%!   if (! isequal (size (y), size (c.out)))
%!     error ("%s: result is %dx%d", c.name, rows (y), columns (y));
%!   endif
%!   bad = find (typecast (y(:), "uint64") != typecast (c.out(:), "uint64"), 1);
%!   if (! isempty (bad))
%!     error ("%s: element %d is %s, expected %s", c.name, bad,
%!            num2hex (y(bad)), num2hex (c.out(bad)));
%!   endif
%! endfor
