## The real module in the host reproduces every golden result to the last bit.

%!function cases = read_golden ()
%!  file = getenv ("QUIBRA_GOLDEN_FILE");
%!  if (isempty (file))
%!    file = fullfile (fileparts (mfilename ("fullpath")), "..", "golden", "cases.txt");
%!  endif
%!  fid = fopen (file, "r");
%!  assert (fid >= 0, "cannot open %s", file);
%!  cases = {};
%!  while (ischar (line = fgetl (fid)))
%!    words = strsplit (strtrim (line), " ");
%!    switch (words{1})
%!      case "case"
%!        cases{end+1} = struct ("name", words{2}, "in", {{}}, "out", []);
%!      case {"in", "out"}
%!        m = zeros (str2double (words{2}), str2double (words{3}));
%!        if (numel (words) > 3)
%!          m(:) = hex2num (words(4:end), "double");
%!        endif
%!        if (strcmp (words{1}, "in"))
%!          cases{end}.in{end+1} = m;
%!        else
%!          cases{end}.out = m;
%!        endif
%!    endswitch
%!  endwhile
%!  fclose (fid);
%!endfunction

%!test
%! cases = read_golden ();
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
