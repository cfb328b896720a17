function bench_fast (varargin)
%BENCH_FAST  'Method' 'fast' against 'direct' on large data, same run.
%   BENCH_FAST () prints, with the default threads:
%   1. n = 1e6, f = 0.2, degree 2: 'direct' (one call) and 'fast' (median
%      of three), plain and robust (robust with 'MaxPasses' 2 on both
%      sides, so that the direct call ends within minutes: every pass costs
%      what a plain smooth does), and their ratios;
%   2. n = 1e7, f = 0.5, degree 1, 'fast': one call's wall time;
%   3. 'Span', 'aicc' at n = 1e6 with 'fast';
%   4. time against n from 1e4 to 1e7 at f = 0.2, degree 2: 'direct' (to
%      1e6), 'direct' with 'Delta' range/100, 'fast', and with RSCRIPT
%      given, R's loess (span 0.2, degree 2, its default interpolating
%      surface; to 1e5) and lowess (f = 0.2, iter = 0, its default delta of
%      range/100).
%   BENCH_FAST ('quick') runs n = 1e5 only, and BENCH_FAST (..., 'r',
%   RSCRIPT) adds R.

  quick = any (strcmp (varargin, 'quick'));
  rscript = '';
  k = find (strcmp (varargin, 'r'));
  if (! isempty (k))
    rscript = varargin{k + 1};
  end
  big = 1e6;
  if (quick)
    big = 1e5;
  end

  [x, y] = fast_data (big);
  fprintf ('n = %d, f = 0.2, degree 2\n', big);
  fprintf ('%8s %12s %12s %10s %16s\n', 'robust', 'direct s', 'fast s', 'ratio', 'largest diff');
  td = zeros (1, 2);
  for robust = [0 1]
    args = {x, y, 0.2, robust, 2, 'MaxPasses', 2};
    tic;
    a = quibra (args{:});
    t_direct = toc;
    b = quibra (args{:}, 'Method', 'fast');
    t_fast = time_call (@() quibra (args{:}, 'Method', 'fast'), 3);
    fprintf ('%8d %12.2f %12.3f %10.1f %16.2g\n', robust, t_direct, t_fast, ...
             t_direct / t_fast, max (abs (a - b)) / max (abs (y)));
    td(robust + 1) = t_direct;
  end

  if (! quick)
    [x7, y7] = fast_data (1e7);
    tic;
    quibra (x7, y7, 0.5, 0, 1, 'Method', 'fast');
    fprintf ('\nn = 1e7, f = 0.5, degree 1, fast: %.2f s\n', toc);
    clear x7 y7;
  end

  tic;
  [~, info] = quibra (x, y, 'Span', 'aicc', 'Method', 'fast');
  fprintf ('\nn = %d, ''Span'' ''aicc'', fast: %.2f s (%d spans tried, span %.3f)\n', ...
           big, toc, rows (info.criterion), info.span);

  fprintf ('\nTime against n, f = 0.2, degree 2, plain (s)\n');
  fprintf ('%9s %10s %10s %10s %10s %10s\n', 'n', 'direct', 'Delta', 'fast', 'R loess', ...
           'R lowess');
  ns = [1e4 1e5 1e6 1e7];
  if (quick)
    ns = [1e4 1e5];
  end
  for n = ns
    [x, y] = fast_data (n);
    delta = (max (x) - min (x)) / 100;
    reps = max (1, min (5, round (1e6 / n)));
    if (n == big)
      t_direct = td(1);
    elseif (n < big)
      t_direct = time_call (@() quibra (x, y, 0.2, 0, 2), reps);
    else
      t_direct = NaN;
    end
    t_delta = time_call (@() quibra (x, y, 0.2, 0, 2, 'Delta', delta), reps);
    t_fast = time_call (@() quibra (x, y, 0.2, 0, 2, 'Method', 'fast'), reps);
    t_loess = NaN;
    t_lowess = NaN;
    if (! isempty (rscript))
      data = [tempname() '.bin'];
      fid = fopen (data, 'w');
      fwrite (fid, [x; y], 'double');
      fclose (fid);
      if (n <= 1e5)
        t_loess = time_r (rscript, data, n, 'loess(y ~ x, span = 0.2, degree = 2)');
      end
      t_lowess = time_r (rscript, data, n, 'lowess(x, y, f = 0.2, iter = 0)');
      delete (data);
    end
    fprintf ('%9d %10.3f %10.3f %10.3f %10.3f %10.3f\n', n, t_direct, t_delta, t_fast, ...
             t_loess, t_lowess);
  end
end

% The benchmark's curve (bench_data) made at any size in one step: the
% loop there would take minutes at 1e7.
function [x, y] = fast_data (n)
  rand ('twister', 20261208);
  x = 10 * rand (n, 1);
  c = x - 5;
  y = c .^ 3 / 25 - c + (rand (n, 1) - 0.5);
  y(50:50:end) += 20;
end
