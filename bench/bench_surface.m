function bench_surface (varargin)
%BENCH_SURFACE  Surfaces (X with two predictors) against R's loess.
%   BENCH_SURFACE () times quibra on noisy surfaces, d = 2, span 0.3,
%   degree 2, at n = 1250 to 10000 points (how the time grows with n);
%   BENCH_SURFACE ('r', RSCRIPT) also times R's loess on the same data in
%   one process, exact (surface = "direct") and with its default
%   interpolating surface, and prints quibra's time over R's. Wall time,
%   median of runs; quibra on every thread the machine has.
%   BENCH_SURFACE (..., 'large', true) adds n = 50000 (seconds, not
%   milliseconds: the exact surface grows as n^2).
  rscript = '';
  sizes = [1250 2500 5000 10000];
  for k = 1:2:numel (varargin)
    if (strcmp (varargin{k}, 'r'))
      rscript = varargin{k+1};
    elseif (strcmp (varargin{k}, 'large') && varargin{k+1})
      sizes(end+1) = 50000;
    end
  end
  printf ('%8s %12s %14s %14s %10s %10s\n', 'n', 'quibra (s)', 'R direct (s)', ...
          'R interp. (s)', 'ratio', 'threads');
  for n = sizes
    rand ('seed', n); randn ('seed', n);
    X = [rand(n, 1), 100 * rand(n, 1)];
    y = sin (4 * X(:, 1)) .* cos (X(:, 2) / 30) + 0.2 * randn (n, 1);
    reps = max (1, round (5000 / n));
    t = time_call (@() quibra (X, y, 0.3, false, 2), reps);
    r_direct = NaN;
    r_interp = NaN;
    if (! isempty (rscript) && n <= 5000)
      r_direct = time_r_surface (rscript, X, y, 'surface = "direct"');
    end
    if (! isempty (rscript))
      r_interp = time_r_surface (rscript, X, y, 'surface = "interpolate"');
    end
    printf ('%8d %12.4f %14.4f %14.4f %10.3f %10d\n', n, t, r_direct, r_interp, ...
            t / r_direct, nproc ());
  end
end

function t = time_r_surface (rscript, X, y, surface)
  % One timed fit after a warm-up in the same process; R reports the
  % seconds of the timed fit only.
  n = rows (X);
  data = [tempname() '.bin'];
  fid = fopen (data, 'w');
  fwrite (fid, [X(:); y], 'double');
  fclose (fid);
  fit = sprintf (['loess(y ~ x1 + x2, span = 0.3, degree = 2, ' ...
                  'control = loess.control(%s, statistics = "none"))'], surface);
  code = sprintf (['v <- readBin("%s", "double", %d); x1 <- v[1:%d]; x2 <- v[%d + 1:%d]; ' ...
                   'y <- v[2 * %d + 1:%d]; invisible(%s); t <- system.time(%s)[["elapsed"]]; ' ...
                   'cat(sprintf("%%.6f\\n", t))'], data, 3 * n, n, n, n, n, n, fit, fit);
  [status, out] = system (sprintf ('"%s" -e ''%s''', rscript, code));
  delete (data);
  if (status != 0)
    error ('bench_surface: Rscript failed:\n%s', out);
  end
  t = str2double (strtrim (out));
end
