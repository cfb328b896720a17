function bench_paths (varargin)
%BENCH_PATHS  Time quibra on each thread count and register width.
%   BENCH_PATHS () prints, for plain smooths of the benchmark data (see
%   BENCH_DATA) with n = 1e4, ns per (evaluation point x window point) on
%   one thread (QUIBRA_NUM_THREADS) with 2, 4 and 8 queries per register
%   (QUIBRA_LANES, those the processor runs) and with the default width
%   (the fastest here), and on two threads with the default; then a robust
%   call on one and two threads, a call with n = 100, and how the time
%   grows with n at a fixed span and at a fixed window. Medians of runs,
%   wall time. BENCH_PATHS ('quick') skips the growth with n.

  quick = any (strcmp (varargin, 'quick'));
  [x, y] = bench_data (1e4);
  cases = [0.2 1; 0.2 2; 0.05 2; 0.02 1; 0.02 2; 0.01 2];
  configs = {'1', '2'; '1', '4'; '1', '8'; '1', ''; '2', ''};  % threads, lanes ('' = default)
  fprintf ('%8s %8s %6s %6s %10s\n', 'threads', 'lanes', 'f', 'degree', 'ns/pair');
  for c = 1:rows (configs)
    set_path (configs{c, 1}, configs{c, 2});
    for k = 1:rows (cases)
      f = cases(k, 1); d = cases(k, 2);
      t = time_call (@() quibra (x, y, f, 0, d), 9);
      fprintf ('%8s %8s %6.2f %6d %10.2f\n', configs{c, 1}, lanes_name (configs{c, 2}), ...
               f, d, 1e9 * t / (1e4 * window (1e4, f, d)));
    end
  end
  set_path ('1', '');
  t1 = time_call (@() quibra (x, y, 0.2, 1, 2), 3);
  set_path ('2', '');
  t2 = time_call (@() quibra (x, y, 0.2, 1, 2), 3);
  fprintf ('robust, n = 1e4, f = 0.2, degree 2: %.0f ms on 1 thread, %.0f ms on 2 (x%.2f)\n', ...
           1e3 * t1, 1e3 * t2, t1 / t2);
  set_path ('', '');
  [xs, ys] = bench_data (100);
  fprintf ('n = 100, defaults: %.1f us\n', 1e6 * time_call (@() quibra (xs, ys), 200));
  if (quick)
    return;
  end
  fprintf ('\n%8s %16s %16s\n', 'n', 'f = 0.01: ms', 'window 100: ms');
  for n = [1e3 1e4 1e5 1e6]
    [x, y] = bench_data (n);
    reps = max (3, min (9, round (1e7 / n)));
    ta = time_call (@() quibra (x, y, 0.01, 0, 2), reps);
    tb = time_call (@() quibra (x, y, 100 / n, 0, 2), reps);
    fprintf ('%8d %16.2f %16.2f\n', n, 1e3 * ta, 1e3 * tb);
  end
end

function set_path (threads, lanes)
  set_env ('QUIBRA_NUM_THREADS', threads);
  set_env ('QUIBRA_LANES', lanes);
end

function set_env (name, value)
  if (isempty (value))
    unsetenv (name);
  else
    setenv (name, value);
  end
end

function s = lanes_name (lanes)
  s = lanes;
  if (isempty (s))
    s = 'default';
  end
end

function w = window (n, f, degree)
  w = min (n, max (floor (n * f), degree + 1));
end
