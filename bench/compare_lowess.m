function compare_lowess (rscript)
%COMPARE_LOWESS  quibra against R's stats::lowess at equal work, same run.
%   COMPARE_LOWESS (RSCRIPT) times local linear smooths without robustness
%   (quibra degree 1, robust 0; lowess iter = 0, delta = 0, so that lowess
%   fits every point exactly too) on the benchmark data for n = 1e4 and
%   1e5 and f = 0.05 and 0.2, alternating the two programs, and prints the
%   medians and the ratio quibra / lowess. RSCRIPT is the path of Rscript.

  fprintf ('%8s %6s %12s %12s %10s\n', 'n', 'f', 'quibra ms', 'lowess ms', 'ratio');
  for n = [1e4 1e5]
    [x, y] = bench_data (n);
    data = [tempname() '.bin'];
    fid = fopen (data, 'w');
    fwrite (fid, [x; y], 'double');
    fclose (fid);
    for f = [0.05 0.2]
      reps = max (3, min (7, round (4e8 / (n * n * f))));
      tq = zeros (reps, 1);
      tr = zeros (reps, 1);
      quibra (x, y, f, 0, 1);  % warm-up
      for k = 1:reps
        tic;
        quibra (x, y, f, 0, 1);
        tq(k) = toc;
        tr(k) = time_lowess (rscript, data, n, f);
      end
      fprintf ('%8d %6.2f %12.2f %12.2f %10.2f\n', n, f, 1e3 * median (tq), ...
               1e3 * median (tr), median (tq) / median (tr));
    end
    delete (data);
  end
end

% One timed lowess call inside R, after a warm-up call in the same process;
% R reports the seconds of the timed call only.
function t = time_lowess (rscript, data, n, f)
  code = sprintf (['v <- readBin("%s", "double", %d); x <- v[1:%d]; y <- v[%d:%d]; ' ...
                   'invisible(lowess(x, y, f = %g, iter = 0, delta = 0)); ' ...
                   't <- system.time(lowess(x, y, f = %g, iter = 0, delta = 0))[["elapsed"]]; ' ...
                   'cat(sprintf("%%.6f\\n", t))'], data, 2 * n, n, n + 1, 2 * n, f, f);
  [status, out] = system (sprintf ('"%s" -e ''%s''', rscript, code));
  if (status ~= 0)
    error ('compare_lowess: Rscript failed:\n%s', out);
  end
  t = str2double (strtrim (out));
end
