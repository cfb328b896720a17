function t = time_r (rscript, data, n, r_call)
%TIME_R  One timed call of R_CALL in Rscript, on the N abscissae and then
%   N ordinates (doubles) in the file DATA as x and y, after a warm-up call
%   in the same process; R reports the seconds of the timed call only.
  code = sprintf (['v <- readBin("%s", "double", %d); x <- v[1:%d]; y <- v[%d:%d]; ' ...
                   'invisible(%s); t <- system.time(%s)[["elapsed"]]; ' ...
                   'cat(sprintf("%%.6f\\n", t))'], data, 2 * n, n, n + 1, 2 * n, r_call, r_call);
  [status, out] = system (sprintf ('"%s" -e ''%s''', rscript, code));
  if (status != 0)
    error ('time_r: Rscript failed:\n%s', out);
  end
  t = str2double (strtrim (out));
end
