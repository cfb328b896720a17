## [x, y, fit] = r_lowess (data, args)
## R's lowess, run by Rscript in a process of its own. DATA is the name of
## one of R's data sets ("pressure", "cars": the first column is x, the
## second y) or a two-column matrix [x y] handed over to R bit for bit.
## ARGS is the rest of the call as R text, e.g. "f = 2/3, iter = 0, delta = 0",
## or "" for R's defaults; a cell array of them makes a call each, in one
## process, and a column of FIT each.
## Returns the data sorted by x as R sorts them (a stable order, so ties
## keep theirs) and R's fitted value at each.
function [x, y, fit] = r_lowess (data, args)
  rscript = file_in_path (getenv ("PATH"), "Rscript");
  if (isempty (rscript))
    error ("r_lowess: Rscript not found; install r-base-core (tools/quibra.sh test does)");
  endif
  out = [tempname() ".bin"];
  cleanup = {out};
  if (ischar (data))
    get = sprintf ('d <- datasets::%s; x <- as.double(d[[1]]); y <- as.double(d[[2]])', data);
  else
    in = [tempname() ".bin"];
    cleanup{end+1} = in;
    fid = fopen (in, "w");
    fwrite (fid, data(:), "double");
    fclose (fid);
    n = rows (data);
    get = sprintf (['v <- readBin("%s", "double", %d); ' ...
                    'x <- v[1:%d]; y <- v[%d:%d]'], in, 2 * n, n, n + 1, 2 * n);
  endif
  if (! iscell (args))
    args = {args};
  endif
  calls = "";
  for k = 1:numel (args)
    a = args{k};
    if (! isempty (a))
      a = [", " a];
    endif
    calls = [calls sprintf(", lowess(x, y%s)$y", a)];
  endfor
  code = sprintf (['%s; o <- order(x); ' ...
                   'writeBin(c(x[o], y[o]%s), "%s")'], get, calls, out);
  unwind_protect
    ## Single quotes for the shell, so R's $ and quotes pass untouched.
    [status, text] = system (sprintf ("'%s' --vanilla -e '%s' 2>&1", rscript, code));
    if (status != 0)
      error ("r_lowess: Rscript failed:\n%s", text);
    endif
    fid = fopen (out, "r");
    v = fread (fid, Inf, "double");
    fclose (fid);
  unwind_protect_cleanup
    for k = 1:numel (cleanup)
      if (exist (cleanup{k}, "file"))
        delete (cleanup{k});
      endif
    endfor
  end_unwind_protect
  n = numel (v) / (2 + numel (args));
  x = v(1:n);
  y = v(n+1:2*n);
  fit = reshape (v(2*n+1:end), n, numel (args));
endfunction
