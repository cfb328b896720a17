## [x, y, fit, w] = r_fits (data, exprs, q)
## Runs R expressions by Rscript, all in one process of its own. DATA is the
## name of one of R's data sets ("pressure", "cars": the first column is x,
## the second y) or a matrix [x y] or [x y w] handed over to R bit for bit.
## R sorts the data by x in a stable order (ties keep theirs) and names
## them x, y and w (w all 1 when not given); Q (optional) is handed over
## as q. EXPRS is a cell array of R expressions, each giving a vector;
## FIT holds one per column (NaN where R fails), e.g.
##   "lowess(x, y, f = 0.3)$y"
##   "fitted(loess(y ~ x, weights = w, control = loess.control(surface = \"direct\")))"
## Returns the sorted data and R's vectors, which must all be of one length.
function [x, y, fit, w] = r_fits (data, exprs, q = [])
  out = [tempname() ".bin"];
  cleanup = {};
  if (ischar (data))
    get = sprintf ('d <- datasets::%s; x <- as.double(d[[1]]); y <- as.double(d[[2]]); w <- rep(1, length(x))', data);
  else
    if (columns (data) < 3)
      data(:, 3) = 1;
    endif
    v = [data(:); q(:)];
    in = [tempname() ".bin"];
    cleanup{end+1} = in;
    fid = fopen (in, "w");
    fwrite (fid, v, "double");
    fclose (fid);
    n = rows (data);
    get = sprintf (['v <- readBin("%s", "double", %d); x <- v[1:%d]; y <- v[%d:%d]; ' ...
                    'w <- v[%d:%d]; q <- v[-(1:%d)]'], in, numel (v), n, n + 1, 2 * n, ...
                   2 * n + 1, 3 * n, 3 * n);
  endif
  ## An expression R refuses gives NaN at every point.
  calls = sprintf (", tryCatch(%s, error = function(e) rep(NaN, length(x)))", exprs{:});
  code = sprintf (['%s; o <- order(x); x <- x[o]; y <- y[o]; w <- w[o]; ' ...
                   'writeBin(c(x, y, w%s), "%s")'], get, calls, out);
  v = run_r (code, out, cleanup);
  n = find_n (data, v, numel (exprs), numel (q));
  x = v(1:n);
  y = v(n+1:2*n);
  w = v(2*n+1:3*n);
  fit = reshape (v(3*n+1:end), [], numel (exprs));
endfunction

## The count of data points: known for a matrix; for a data set, every
## expression's vector has one per point, or one per query.
function n = find_n (data, v, calls, nq)
  if (! ischar (data))
    n = rows (data);
  else
    n = (numel (v) - calls * nq) / 3;
    if (nq == 0)
      n = numel (v) / (3 + calls);
    endif
  endif
endfunction
