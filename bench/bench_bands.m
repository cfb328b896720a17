function bench_bands (varargin)
%BENCH_BANDS  What a band and an automatic span cost in the host.
%   BENCH_BANDS () prints, on one thread, the time of a plain smooth and of
%   the same call with 'Intervals' (medians of alternating calls), their
%   ratio, and the ratio without the one call of the host's betaincinv
%   that gives the t quantile (timed on its own); then an automatic span
%   against one plain smooth at the chosen span. BENCH_BANDS ('quick')
%   runs n = 1e4 only.

  quick = any (strcmp (varargin, 'quick'));
  old = getenv ('QUIBRA_NUM_THREADS');
  setenv ('QUIBRA_NUM_THREADS', '1');
  betaincinv (0.5, 2, 3);
  t = zeros (20, 1);
  for k = 1:20
    tic;
    betaincinv (0.95, 0.5, 2500);
    t(k) = toc;
  end
  tq = median (t);
  fprintf ('one call of betaincinv: %.2f ms\n', 1e3 * tq);
  fprintf ('%8s %8s %10s %12s %8s %16s\n', 'n', 'window', 'plain ms', 'band ms', 'ratio', ...
           'w/o quantile');
  ns = [1e4 1e5];
  if (quick)
    ns = 1e4;
  end
  for n = ns
    [x, y] = bench_data (n);
    for window = [100 500]
      f = window / n;
      a = zeros (15, 1);
      b = zeros (15, 1);
      for k = 1:15
        tic;
        quibra (x, y, f, 0, 2);
        a(k) = toc;
        tic;
        [~, info] = quibra (x, y, f, 0, 2, 'Intervals', 'confidence');
        b(k) = toc;
      end
      fprintf ('%8d %8d %10.2f %12.2f %8.2f %16.2f\n', n, window, 1e3 * median (a), ...
               1e3 * median (b), median (b) / median (a), (median (b) - tq) / median (a));
    end
  end
  [x, y] = bench_data (1e4);
  tic;
  [~, info] = quibra (x, y, 'Span', 'aicc');
  ta = toc;
  tp = zeros (5, 1);
  for k = 1:5
    tic;
    quibra (x, y, info.span, 0, 2);
    tp(k) = toc;
  end
  fprintf ('automatic span, n = 1e4: chose %.3f of %d candidates, %.1f times one plain smooth at it\n', ...
           info.span, rows (info.criterion), ta / median (tp));
  setenv ('QUIBRA_NUM_THREADS', old);
  if (isempty (old))
    unsetenv ('QUIBRA_NUM_THREADS');
  end
end
