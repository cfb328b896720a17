function band_coverage (reps = 300, dims = 1)
%BAND_COVERAGE  How honest the bands are, by simulation.
%   BAND_COVERAGE (REPS) smooths REPS samples (fixed seeds) of n = 300
%   points, y = sin (2 pi x) + N(0, 0.5^2) on uniform x, with f = 0.4 and
%   degree 2, plain and robust, clean and with 5% gross outliers (+-10 sd),
%   and prints the mean sigma and how often the 95% bands cover: the
%   confidence band the expected smooth L*f at the points, the prediction
%   band a new uncontaminated observation there (exact probabilities,
%   averaged).
%   BAND_COVERAGE (REPS, 2) does the same over two predictors, y = sin (3
%   x1) + cos (2 x2) + N(0, 0.5^2) on the unit square; after robust passes
%   a surface's windows shrink with the points kept, so no weights give its
%   expected smooth, and only the prediction band is judged there.
  n = 300; sd = 0.5; f = 0.4;
  fprintf ('%-8s %-10s %10s %12s %12s\n', 'call', 'data', 'sigma', 'confidence', 'prediction');
  for outliers = [0 0.05]
    for robust = [0 1]
      rand ('seed', 11); randn ('seed', 11);
      sig = zeros (reps, 1); conf = zeros (reps, 1); pred = zeros (reps, 1);
      for k = 1:reps
        x = rand (n, dims);
        truth = sin (2 * pi * x);
        if (dims == 2)
          truth = sin (3 * x(:, 1)) + cos (2 * x(:, 2));
        end
        y = truth + sd * randn (n, 1);
        bad = rand (n, 1) < outliers;
        y(bad) += 10 * sd * sign (randn (sum (bad), 1));
        [ys, c] = quibra (x, y, f, robust, 2, 'Intervals', 'confidence');
        [~, p] = quibra (x, y, f, robust, 2, 'Intervals', 'prediction');
        % The expected smooth: the same linear smoother applied to the truth.
        w = c.weights;
        sig(k) = c.sigma;
        conf(k) = NaN;
        if (dims == 1 || ! robust)
          expected = quibra (x, truth, f, 0, 2, 'Weights', numel (w) * w / sum (w));
          conf(k) = mean (c.lower <= expected & expected <= c.upper);
        end
        pred(k) = mean (normcdf ((p.upper - truth) / sd) - normcdf ((p.lower - truth) / sd));
      end
      judged = sprintf ('%.1f%%', 100 * mean (conf));
      if (isnan (mean (conf)))
        judged = '-';
      end
      fprintf ('%-8s %-10s %10.4f %12s %11.1f%%\n', {'plain', 'robust'}{robust + 1}, ...
               {'clean', '5% out'}{(outliers > 0) + 1}, mean (sig), judged, 100 * mean (pred));
    end
  end
end

function p = normcdf (z)
  p = 0.5 * erfc (-z / sqrt (2));
end
