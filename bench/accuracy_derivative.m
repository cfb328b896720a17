function accuracy_derivative (varargin)
%ACCURACY_DERIVATIVE  How close quibra's derivatives come to a QR solve.
%   ACCURACY_DERIVATIVE () prints, for degrees 1 to 4 and each derivative
%   k from 1 to the degree, the largest difference between quibra's k-th
%   derivative and that of a QR solve of the same windows
%   (tests/host/qr_smooth.m), relative to the largest |k-th derivative|
%   the QR solve finds, and the largest relative difference of the
%   derivative's standard error from sigma times the norm of its row of
%   the QR solve's hat matrix. Data: n = 10^5 points as date numbers a day
%   apart (738000 + 36500 u, u on [0, 1]), with windows of 100 points (a
%   sample of 2000 queries) and with the span 0.3 (a sample of 100); last,
%   data drawn from a polynomial of the fit's degree, whose derivatives
%   are known exactly: quibra's largest difference from them relative to
%   their largest magnitude, with the span 0.3 and with windows of 100
%   points, and beside the latter the QR solve's own (the ordinates'
%   rounding, divided by h^k, bounds what any solve of narrow windows can
%   reach). ACCURACY_DERIVATIVE ('quick') takes n = 10^4.
  addpath (fullfile (fileparts (mfilename ('fullpath')), '..', 'tests', 'host'));
  n = 10 ^ (5 - any (strcmp (varargin, 'quick')));
  rand ('seed', 27); randn ('seed', 27);
  u = rand (n, 1);
  x = 738000 + 36500 * u;
  y = sin (2 * pi * u) + 0.1 * randn (n, 1);
  fprintf ('%6s %3s %11s %11s %11s %11s %11s %11s %11s\n', 'degree', 'k', '100 points', ...
           'se', 'span 0.3', 'se', 'poly 0.3', 'poly 100', 'QR poly');
  for degree = 1:4
    for k = 1:degree
      [e1, s1] = against_qr (x, y, 100 / n, degree, k, randperm (n, min (n, 2000))');
      [e2, s2] = against_qr (x, y, 0.3, degree, k, randperm (n, 100)');
      % A polynomial of the fit's degree in (x - 738000) / 36500.
      c = [0.3 -1.2 2.0 -0.7 0.4](1:degree+1);
      t = (x - 738000) / 36500;
      p = polyval (fliplr (c), t);
      dp = polyval (fliplr (polyder_k (c, k)), t) / 36500 ^ k;
      pick = randperm (n, min (n, 2000))';
      rel = @(got) max (abs (got - dp(pick))) / max (abs (dp));
      e3 = rel (quibra (x, p, 0.3, 0, degree, 'Derivative', k)(pick));
      e4 = rel (quibra (x, p, 100 / n, 0, degree, 'Derivative', k)(pick));
      e5 = rel (qr_smooth (x, p, 100 / n, degree, x(pick), [], false, k));
      fprintf ('%6d %3d %11.1e %11.1e %11.1e %11.1e %11.1e %11.1e %11.1e\n', degree, k, e1, s1, ...
               e2, s2, e3, e4, e5);
    end
  end
end

% The largest differences of the derivative and of its se at the queries
% x(pick), relative to max |QR derivative| and to the QR se.
function [e, s] = against_qr (x, y, f, degree, k, pick)
  [d, info] = quibra (x, y, f, 0, degree, 'Derivative', k, 'Intervals', 'confidence');
  [want, lnorm2] = qr_smooth (x, y, f, degree, x(pick), [], false, k);
  ok = ! isnan (want);
  e = max (abs (d(pick)(ok) - want(ok))) / max (abs (want(ok)));
  se = info.sigma * sqrt (lnorm2(ok));
  s = max (abs (info.se(pick)(ok) - se) ./ se);
end

% The coefficients (ascending powers) of the k-th derivative.
function d = polyder_k (c, k)
  d = c;
  for i = 1:k
    d = d(2:end) .* (1:numel (d) - 1);
  end
  if (isempty (d))
    d = 0;
  end
end
