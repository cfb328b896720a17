## [fit, pred] = r_surface (X, y, w, Xq, args)
## R's loess over the columns of X (two to four predictors) with prior
## weights W, exact: surface "direct", run by Rscript in a process of its
## own, the data handed over bit for bit. ARGS is R's arguments after the
## formula, e.g. "span = 0.5, degree = 2, normalize = TRUE". FIT holds the
## fitted values at the data (in its order), PRED R's predict at the rows
## of XQ (NaN where R fails).
function [fit, pred] = r_surface (X, y, w, Xq, args)
  rscript = file_in_path (getenv ("PATH"), "Rscript");
  if (isempty (rscript))
    error ("r_surface: Rscript not found; install r-base-core (tools/quibra.sh test does)");
  endif
  [n, d] = size (X);
  m = rows (Xq);
  in = [tempname() ".bin"];
  out = [tempname() ".bin"];
  fid = fopen (in, "w");
  fwrite (fid, [X(:); y(:); w(:); Xq(:)], "double");
  fclose (fid);
  names = sprintf ("x%d + ", 1:d)(1:end-3);
  code = sprintf (['v <- readBin("%s", "double", %d); n <- %d; d <- %d; m <- %d; ' ...
                   'X <- matrix(v[1:(n*d)], n, d); y <- v[n*d + 1:n]; w <- v[n*d + n + 1:n]; ' ...
                   'Q <- matrix(v[n*d + 2*n + seq_len(m*d)], m, d); ' ...
                   'D <- data.frame(X, y); names(D) <- c(paste0("x", 1:d), "y"); ' ...
                   'N <- as.data.frame(Q); names(N) <- paste0("x", 1:d); ' ...
                   'f <- tryCatch(loess(y ~ %s, data = D, weights = w, %s, ' ...
                   'control = loess.control(surface = "direct")), error = function(e) NULL); ' ...
                   'a <- if (is.null(f)) rep(NaN, n) else fitted(f); ' ...
                   'b <- if (is.null(f) || m == 0) rep(NaN, m) else as.vector(predict(f, N)); ' ...
                   'writeBin(as.double(c(a, b)), "%s")'], ...
                  in, numel (X) + 2 * n + numel (Xq), n, d, m, names, args, out);
  unwind_protect
    [status, text] = system (sprintf ("'%s' --vanilla -e '%s' 2>&1", rscript, code));
    if (status != 0)
      error ("r_surface: Rscript failed:\n%s", text);
    endif
    fid = fopen (out, "r");
    v = fread (fid, Inf, "double");
    fclose (fid);
  unwind_protect_cleanup
    for f = {in, out}
      if (exist (f{1}, "file"))
        delete (f{1});
      endif
    endfor
  end_unwind_protect
  fit = v(1:n);
  pred = v(n+1:end);
endfunction
