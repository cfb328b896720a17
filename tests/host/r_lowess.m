## [x, y, fit] = r_lowess (data, args)
## R's lowess (r_fits.m). DATA: the name of one of R's data sets or a
## two-column matrix [x y]. ARGS is the rest of the call as R text, e.g.
## "f = 2/3, iter = 0, delta = 0", or "" for R's defaults; a cell array of
## them makes a call each, in one process, and a column of FIT each.
## Returns the data sorted by x as R sorts them and R's fitted value at each.
function [x, y, fit] = r_lowess (data, args)
  if (! iscell (args))
    args = {args};
  endif
  exprs = cell (size (args));
  for k = 1:numel (args)
    a = args{k};
    if (! isempty (a))
      a = [", " a];
    endif
    exprs{k} = sprintf ("lowess(x, y%s)$y", a);
  endfor
  [x, y, fit] = r_fits (data, exprs);
endfunction
