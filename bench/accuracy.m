function accuracy (varargin)
%ACCURACY  How close quibra's values come to an independent solve.
%   ACCURACY () prints, for each degree from 1 to 8 and then 10 and 12, the
%   largest difference between quibra and a QR solve of the same windows
%   (tests/host/qr_smooth.m: the design centred and scaled at the query),
%   relative to max|y|, on three kinds of data: n = 10^5 points on [0, 1]
%   with windows of 100 points (a sample of 2000 of them), the same data
%   as date numbers a day apart (738000 + 36500 x), and 2000 nodes
%   evaluated on a grid reaching a tenth of the range beyond them (f =
%   0.03; relative to the value where it exceeds max|y|). ACCURACY
%   ('quick') takes n = 10^4.
  here = fileparts (mfilename ('fullpath'));
  addpath (fullfile (here, '..', 'tests', 'host'));
  n = 1e5;
  if (any (strcmp (varargin, 'quick')))
    n = 1e4;
  end
  rand ('seed', 7); randn ('seed', 7);
  u = rand (n, 1);
  y = sin (2 * pi * u) + 0.1 * randn (n, 1);
  pick = randperm (n, min (n, 2000))';
  nx = sort (rand (2000, 1));
  ny = exp (-nx) + 0.05 * randn (2000, 1);
  q = linspace (-0.1, 1.1, 1201)';
  fprintf ('%6s %16s %16s %16s\n', 'degree', 'x in [0, 1]', 'date numbers', 'nodes, beyond');
  for degree = [1:8 10 12]
    f = max (100, 4 * (degree + 1)) / n;
    e1 = worst (quibra (u, y, f, 0, degree)(pick), qr_smooth (u, y, f, degree, u(pick)), y);
    x = 738000 + 36500 * u;
    e2 = worst (quibra (x, y, f, 0, degree)(pick), qr_smooth (x, y, f, degree, x(pick)), y);
    e3 = worst (quibra (q, q, 0.03, 0, degree, nx, ny), qr_smooth (nx, ny, 0.03, degree, q), ny);
    fprintf ('%6d %16.1e %16.1e %16.1e\n', degree, e1, e2, e3);
  end
end

function e = worst (got, want, y)
  ok = ! isnan (want);
  e = max (abs (got(ok) - want(ok)) ./ max (abs (want(ok)), max (abs (y))));
end
