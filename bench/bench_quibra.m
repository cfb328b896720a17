function results = bench_quibra (varargin)
%BENCH_QUIBRA  Time the quibra module in the host.
%   BENCH_QUIBRA () times plain and robust calls for n = 1e3, 1e4, 1e5,
%   f = 0.01, 0.05, 0.2 and degree 1 and 2 on the benchmark data (see
%   BENCH_DATA), and prints per call: the median of several timed calls
%   after a warm-up, ns per (evaluation point x window point), local fits
%   per second. (Peak storage is measured exactly through the stand-in host
%   by the C++ benchmarks; the host's allocator hides it from outside.)
%   BENCH_QUIBRA ('quick') runs a smaller set.
%   RESULTS is a struct array of the rows printed.

  quick = any (strcmp (varargin, 'quick'));
  ns = [1e3 1e4 1e5];
  fs = [0.01 0.05 0.2];
  if (quick)
    ns = 1e4;
  end
  results = struct ('n', {}, 'f', {}, 'degree', {}, 'robust', {}, 'seconds', {}, ...
                    'ns_per_pair', {}, 'fits_per_s', {});
  fprintf ('%8s %6s %6s %6s %10s %12s %12s\n', 'n', 'f', 'degree', 'robust', ...
           'ms', 'ns/pair', 'fits/s');
  for n = ns
    [x, y] = bench_data (n);
    for f = fs
      for degree = [1 2]
        for robust = [0 1]
          window = min (n, max (floor (n * f), degree + 1));
          % Robust smooths of 1e5 points with wide spans run for minutes.
          if (robust && n * window > 2e8)
            continue;
          end
          reps = max (3, min (9, round (2e8 / (n * window))));
          call = @() quibra (x, y, f, robust, degree);
          t = time_call (call, reps);
          r.n = n; r.f = f; r.degree = degree; r.robust = robust; r.seconds = t;
          r.ns_per_pair = 1e9 * t / (n * window);
          r.fits_per_s = n / t;
          results(end+1) = r;
          fprintf ('%8d %6.2f %6d %6d %10.2f %12.2f %12.0f\n', n, f, degree, ...
                   robust, 1e3 * t, r.ns_per_pair, r.fits_per_s);
        end
      end
    end
  end
end
