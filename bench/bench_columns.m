function bench_columns (varargin)
%BENCH_COLUMNS  Time a call with several signals against a call per signal.
%   BENCH_COLUMNS () prints, for n = 1e4 points of the benchmark data (see
%   BENCH_DATA), f = 0.05 and degree 2, the time of one call with K columns
%   of ordinates against K calls of one column each, as a ratio from the
%   same run: plain with K = 8 and 64 and robust with K = 8, all on two
%   threads. Medians of runs, wall time. BENCH_COLUMNS ('quick') runs fewer.

  quick = any (strcmp (varargin, 'quick'));
  reps = 5;
  if (quick)
    reps = 3;
  end
  [x, y] = bench_data (1e4);
  fprintf ('%8s %8s %8s %14s %14s %8s\n', 'robust', 'threads', 'columns', ...
           'one call: ms', 'K calls: ms', 'ratio');
  threads = 2;
  for c = [0 8; 0 64; 1 8]'
    robust = c(1); k = c(2);
    Y = y + 0.01 * (0:k - 1);
    opt = {'Threads', threads};
    tm = time_call (@() quibra (x, Y, 0.05, robust, 2, opt{:}), reps);
    ts = time_call (@() each_column (x, Y, robust, opt), reps);
    fprintf ('%8d %8d %8d %14.1f %14.1f %8.3f\n', robust, threads, k, 1e3 * tm, ...
             1e3 * ts, tm / ts);
  end
end

function each_column (x, Y, robust, opt)
  for c = 1:columns (Y)
    quibra (x, Y(:, c), 0.05, robust, 2, opt{:});
  end
end
