function compare_lowess (rscript)
%COMPARE_LOWESS  quibra against R's stats::lowess, same data, same run.
%   COMPARE_LOWESS (RSCRIPT) prints two tables; RSCRIPT is the path of
%   Rscript. The programs alternate, and each figure is a median.
%   1. Equal work: local linear smooths without robustness (quibra degree 1,
%      robust 0; lowess iter = 0, delta = 0, so that lowess fits every point
%      exactly too) for n = 1e4 and 1e5 and f = 0.05 and 0.2, quibra on one
%      thread and on two.
%   2. R's defaults, lowess (x, y): span 2/3, 3 robustness iterations, fits
%      spaced by 1% of the range, against quibra (x, y, 2/3, 1, 1, 'Delta',
%      range/100, 'MaxPasses', 3), for n = 1e5 and 1e6.
%   Then, for n = 1e5, quibra's time and largest difference from the exact
%   call ('Delta' 0) for Delta of 0.1%, 1% and 5% of the range.

  fprintf ('%8s %6s %8s %12s %12s %10s\n', 'n', 'f', 'threads', 'quibra ms', 'lowess ms', 'ratio');
  for n = [1e4 1e5]
    [x, y, data] = bench_file (n);
    for f = [0.05 0.2]
      reps = max (3, min (7, round (4e8 / (n * n * f))));
      r_call = sprintf ('lowess(x, y, f = %g, iter = 0, delta = 0)', f);
      for threads = [1 2]
        smooth = @() quibra (x, y, f, 0, 1, 'Threads', threads);
        [tq, tr] = alternate (smooth, rscript, data, n, r_call, reps);
        fprintf ('%8d %6.2f %8d %12.2f %12.2f %10.3f\n', n, f, threads, 1e3 * tq, 1e3 * tr, tq / tr);
      end
    end
    delete (data);
  end

  fprintf ('\nAt R''s defaults: quibra (x, y, 2/3, 1, 1, ''Delta'', range/100, ''MaxPasses'', 3)\n');
  fprintf ('%8s %12s %12s %10s\n', 'n', 'quibra ms', 'lowess ms', 'ratio');
  for n = [1e5 1e6]
    [x, y, data] = bench_file (n);
    delta = (max (x) - min (x)) / 100;
    smooth = @() quibra (x, y, 2/3, 1, 1, 'Delta', delta, 'MaxPasses', 3);
    [tq, tr] = alternate (smooth, rscript, data, n, 'lowess(x, y)', 5);
    fprintf ('%8d %12.2f %12.2f %10.2f\n', n, 1e3 * tq, 1e3 * tr, tq / tr);
    delete (data);
  end

  n = 1e5;
  [x, y] = bench_data (n);
  span = max (x) - min (x);
  tic;
  exact = quibra (x, y, 2/3, 1, 1, 'MaxPasses', 3);
  te = toc;
  fprintf ('\nDelta against the exact call (Delta 0, %.1f s), n = %d, robust, MaxPasses 3\n', te, n);
  fprintf ('%14s %12s %16s %14s\n', 'Delta / range', 'quibra ms', 'largest diff', 'range of y');
  for share = [0.001 0.01 0.05]
    smooth = @() quibra (x, y, 2/3, 1, 1, 'Delta', share * span, 'MaxPasses', 3);
    t = zeros (3, 1);
    for k = 1:3
      tic;
      ys = smooth ();
      t(k) = toc;
    end
    fprintf ('%13.1f%% %12.2f %16.3g %14.3g\n', 100 * share, 1e3 * median (t), ...
             max (abs (ys - exact)), max (y) - min (y));
  end
end

% The benchmark data, and a file holding them for R.
function [x, y, data] = bench_file (n)
  [x, y] = bench_data (n);
  data = [tempname() '.bin'];
  fid = fopen (data, 'w');
  fwrite (fid, [x; y], 'double');
  fclose (fid);
end

% Medians of `reps` timings of quibra and of R, alternating. Each timed
% call follows a warm-up in the same process, on both sides: R's process
% is fresh each time, and quibra's first call after it would otherwise pay
% for caches that R's run has emptied. quibra's warm-up lasts at least
% 0.1 s: on the 2-core virtual machine of these figures a core left idle
% while R ran needs some 50 ms of work before it runs at full speed again,
% which a second thread would otherwise not see.
function [tq, tr] = alternate (smooth, rscript, data, n, r_call, reps)
  q = zeros (reps, 1);
  r = zeros (reps, 1);
  for k = 1:reps
    t0 = tic;
    smooth ();
    while (toc (t0) < 0.1)
      smooth ();
    end
    tic;
    smooth ();
    q(k) = toc;
    r(k) = time_r (rscript, data, n, r_call);
  end
  tq = median (q);
  tr = median (r);
end
