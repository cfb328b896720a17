function accuracy_fast (varargin)
%ACCURACY_FAST  How close 'Method' 'fast' comes to 'direct', and to a QR solve.
%   ACCURACY_FAST () prints, for n = 1e4, 1e5, 1e6 and 1e7, degrees 0 to 4
%   and spans 0.001 to 1, the largest difference between 'fast' and
%   'direct' relative to max|y|, over 1000 abscissae drawn from the data
%   and 4 beyond and at its ends, on four kinds of data: x on [0, 1] with
%   prior weights, epoch seconds (1.7e9 + 1e6 x), date numbers (738000 +
%   365 x) with prior weights, and x rounded to 1/200 (ties); at n <= 1e5
%   also robust calls ('MaxPasses' 2). At n = 1e7 the sample is 200
%   abscissae. Then the largest difference of 'fast' from a QR solve of the
%   same windows (tests/host/qr_smooth.m) at n = 1e5, 200 abscissae, and
%   the largest relative difference of the bands' standard errors.
%   ACCURACY_FAST ('quick') stops at n = 1e5; ACCURACY_FAST ('n', NS) runs
%   the sizes NS only (e.g. 1e7).
  here = fileparts (mfilename ('fullpath'));
  addpath (fullfile (here, '..', 'tests', 'host'));
  ns = [1e4 1e5 1e6 1e7];
  if (any (strcmp (varargin, 'quick')))
    ns = [1e4 1e5];
  end
  k = find (strcmp (varargin, 'n'));
  if (! isempty (k))
    ns = varargin{k + 1};
  end
  spans = [0.001 0.01 0.1 0.5 1];
  fprintf ('%9s %6s', 'n', 'degree');
  fprintf (' %10g', spans);
  fprintf ('\n');
  for n = ns
    worst = zeros (5, numel (spans));
    for kind = 1:4
      [x, y, w] = kind_data (n, kind);
      samples = 1000;
      if (n > 1e6)
        samples = 200;
      end
      lo = min (x);
      hi = max (x);
      q = [x(randperm (n, samples)); lo; hi; lo - 0.05 * (hi - lo); hi + 0.03 * (hi - lo)];
      scale = max (abs (y));
      for s = 1:numel (spans)
        if (n * spans(s) < 256)   % every window summed directly
          continue;
        end
        for d = 0:4
          args = {q, [], spans(s), 0, d, x, y, 'Weights', w, 'Diagnostics', 'off'};
          a = quibra (args{:});
          b = quibra (args{:}, 'Method', 'fast');
          worst(d + 1, s) = max (worst(d + 1, s), max (abs (a - b)) / scale);
          if (n <= 1e5 && spans(s) <= 0.1)
            % Robust: the passes refit every data point.
            args = {x, y, spans(s), 1, d, 'Weights', w, 'Diagnostics', 'off', 'MaxPasses', 2};
            a = quibra (args{:});
            b = quibra (args{:}, 'Method', 'fast');
            worst(d + 1, s) = max (worst(d + 1, s), max (abs (a - b)) / scale);
          end
        end
      end
    end
    for d = 0:4
      fprintf ('%9d %6d', n, d);
      fprintf (' %10.1e', worst(d + 1, :));
      fprintf ('\n');
    end
  end

  n = 1e5;
  fprintf ('\nAgainst a QR solve of the same windows, n = %d, 200 abscissae, date numbers\n', n);
  fprintf ('%6s %10s %10s %10s %14s\n', 'degree', 'f = 0.01', 'f = 0.1', 'f = 0.5', 'se, relative');
  [x, y, w] = kind_data (n, 3);
  q = x(randperm (n, 200));
  for d = 0:4
    e = zeros (1, 3);
    se = 0;
    for s = 1:3
      f = [0.01 0.1 0.5](s);
      [b, info] = quibra (q, [], f, 0, d, x, y, 'Weights', w, 'Method', 'fast', ...
                          'Intervals', 'confidence');
      a = qr_smooth (x, y, f, d, q, w);
      e(s) = max (abs (a - b)) / max (abs (y));
      % The direct call's standard errors, against the fast ones.
      [~, direct] = quibra (q, [], f, 0, d, x, y, 'Weights', w, 'Intervals', 'confidence');
      se = max (se, max (abs (info.se - direct.se) ./ direct.se));
    end
    fprintf ('%6d %10.1e %10.1e %10.1e %14.1e\n', d, e, se);
  end
end

% Data of one kind, n points, with prior weights (all 1 for kinds 2 and 4).
function [x, y, w] = kind_data (n, kind)
  rand ('twister', kind); randn ('state', kind);
  u = rand (n, 1);
  w = ones (n, 1);
  switch (kind)
    case 1
      x = u;
      w = 0.5 + rand (n, 1);
    case 2
      x = 1.7e9 + 1e6 * u;
    case 3
      x = 738000 + 365 * u;
      w = 0.5 + rand (n, 1);
    case 4
      x = round (200 * u) / 200;
  end
  y = sin (6 * u) + 0.2 * randn (n, 1);
end
