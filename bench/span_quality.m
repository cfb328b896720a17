function span_quality (n, reps)
%SPAN_QUALITY  The span choice against the truth.
%   SPAN_QUALITY (N, REPS) prints, for a smooth curve, a wiggly one and a
%   noisy line (N points, known noise, REPS replications), the mean squared
%   error of the smooth at the span AICc and GCV choose over that of the
%   best span of a fixed grid (the span whose mean error over the
%   replications is least). Run with the module on the path. Defaults:
%   N = 1000, REPS = 50.

  if (nargin < 1)
    n = 1000;
  end
  if (nargin < 2)
    reps = 50;
  end
  curves = {@(x) sin(2*pi*x), @(x) sin(8*pi*x) .* exp(-x), @(x) 1 + 2*x};
  names = {'smooth', 'wiggly', 'noisy line'};
  sds = [0.3 0.2 1.0];
  grid = [0.02:0.01:0.1, 0.12:0.02:0.3, 0.35:0.05:1];
  printf ('n = %d, %d replications\n', n, reps);
  for c = 1:3
    randn ('seed', c);
    rand ('seed', c);
    ea = 0; eg = 0; eall = zeros (size (grid));
    for r = 1:reps
      x = sort (rand (n, 1));
      mu = curves{c}(x);
      y = mu + sds(c) * randn (n, 1);
      for g = 1:numel (grid)
        ys = quibra (x, y, grid(g), 0, 2, 'FailedValue', NaN, 'Diagnostics', 'off');
        eall(g) += mean ((ys - mu) .^ 2);
      end
      ea += mean ((quibra (x, y, 'Span', 'aicc') - mu) .^ 2);
      eg += mean ((quibra (x, y, 'Span', 'gcv') - mu) .^ 2);
    end
    [best, at] = min (eall);
    printf ('%-10s best grid %.4g (span %.2f) aicc %.4g (%.2f) gcv %.4g (%.2f)\n', names{c}, ...
            best / reps, grid(at), ea / reps, ea / best, eg / reps, eg / best);
  end
end
