## cases = read_golden (file)
##
## The golden calls of FILE (tests/golden/cases.txt): a cell array of
## structs with the case's name, its inputs (a cell array) and its output.

function cases = read_golden (file)
  fid = fopen (file, "r");
  assert (fid >= 0, "cannot open %s", file);
  cases = {};
  while (ischar (line = fgetl (fid)))
    words = strsplit (strtrim (line), " ");
    switch (words{1})
      case "case"
        cases{end+1} = struct ("name", words{2}, "in", {{}}, "out", []);
      case "text"
        cases{end}.in{end+1} = words{2};
      case {"in", "out"}
        m = zeros (str2double (words{2}), str2double (words{3}));
        if (numel (words) > 3)
          m(:) = hex2num (words(4:end), "double");
        endif
        if (strcmp (words{1}, "in"))
          cases{end}.in{end+1} = m;
        else
          cases{end}.out = m;
        endif
    endswitch
  endwhile
  fclose (fid);
endfunction
