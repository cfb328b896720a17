function derivative_coverage (reps = 300)
%DERIVATIVE_COVERAGE  How often the first derivative's band covers, by simulation.
%   DERIVATIVE_COVERAGE (REPS) smooths REPS samples (fixed seeds) of n = 300
%   and n = 3000 points, y = sin (2 pi x) + N(0, 0.5^2) on uniform x, with
%   f = 0.3 and degree 2 (and 3), asks for the first derivative with its
%   95% confidence band, and prints how often the band covers the local
%   fit's expected slope at the points: the same derivative of the same
%   local fits applied to the noiseless curve. Also the mean sigma.
  sd = 0.5; f = 0.3;
  fprintf ('%6s %7s %10s %10s\n', 'n', 'degree', 'sigma', 'covered');
  for n = [300 3000]
    for degree = [2 3]
      rand ('seed', 27); randn ('seed', 27);
      sig = zeros (reps, 1); cover = zeros (reps, 1);
      for k = 1:reps
        x = rand (n, 1);
        truth = sin (2 * pi * x);
        y = truth + sd * randn (n, 1);
        [~, c] = quibra (x, y, f, 0, degree, 'Derivative', 1, 'Intervals', 'confidence');
        expected = quibra (x, truth, f, 0, degree, 'Derivative', 1);
        sig(k) = c.sigma;
        cover(k) = mean (c.lower <= expected & expected <= c.upper);
      end
      fprintf ('%6d %7d %10.4f %9.1f%%\n', n, degree, mean (sig), 100 * mean (cover));
    end
  end
end
