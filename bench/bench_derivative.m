function bench_derivative ()
%BENCH_DERIVATIVE  What a derivative costs against the smooth itself.
%   BENCH_DERIVATIVE () times (median of 5 calls) the smooth and its first
%   and top derivative at the same settings, on n = 10^5 points at the data
%   with windows of 100 points and with the span 0.1, degrees 1 to 3,
%   'Method' 'direct' and 'fast', and prints the ratios to the smooth; then
%   the first derivative's band ('Intervals' 'confidence') against the
%   value's, at the data, where its sigma needs the smooth's fits there.
  here = fileparts (mfilename ('fullpath'));
  addpath (here);
  rand ('seed', 5); randn ('seed', 5);
  n = 1e5;
  x = rand (n, 1);
  y = sin (2 * pi * x) + 0.3 * randn (n, 1);
  fprintf ('%-8s %7s %6s %10s %10s %10s %10s\n', 'method', 'window', 'degree', 'smooth s', ...
           'k = 1', 'k = degree', 'band k = 1');
  for method = {'direct', 'fast'}
    for f = [100 / n 0.1]
      for degree = 1:3
        call = @(varargin) quibra (x, y, f, 0, degree, 'Method', method{1}, varargin{:});
        t0 = time_call (@() call (), 5);
        t1 = time_call (@() call ('Derivative', 1), 5);
        tk = time_call (@() call ('Derivative', degree), 5);
        b0 = time_call (@() twice (call, 'Intervals', 'confidence'), 3);
        b1 = time_call (@() twice (call, 'Intervals', 'confidence', 'Derivative', 1), 3);
        fprintf ('%-8s %7d %6d %10.4f %10.3f %10.3f %10.3f\n', method{1}, floor (n * f), degree, ...
                 t0, t1 / t0, tk / t0, b1 / b0);
      end
    end
  end
end

function twice (call, varargin)
  [~, ~] = call (varargin{:});
end
