function quibra_demo ()
%QUIBRA_DEMO  A worked example: smoothing a noisy curve with outliers.
%   QUIBRA_DEMO smooths 200 noisy samples of sin(x) carrying five gross
%   outliers, plainly and robustly, and prints how far each smooth lies
%   from the true curve. Needs the quibra module (see make_quibra).

  rand ('seed', 42);
  randn ('seed', 42);
  x = sort (10 * rand (200, 1));
  truth = sin (x);
  y = truth + 0.25 * randn (size (x));
  bad = [20; 60; 100; 140; 180];
  y(bad) = y(bad) + [6; -5; 7; -6; 5];

  plain = quibra (x, y, 0.2);
  [robust, info] = quibra (x, y, 0.2, 1);

  fprintf ('quibra demo: 200 noisy points of sin(x) on [0, 10], 5 outliers, span 0.2, degree 2\n\n');
  fprintf ('%8s %10s %10s %10s %10s\n', 'x', 'y', 'sin(x)', 'plain', 'robust');
  for i = [1; bad; 200]'
    fprintf ('%8.3f %10.4f %10.4f %10.4f %10.4f\n', x(i), y(i), truth(i), plain(i), robust(i));
  end
  fprintf ('\nlargest distance from sin(x):  plain %.4f   robust %.4f\n', ...
           max (abs (plain - truth)), max (abs (robust - truth)));
  fprintf ('mean distance from sin(x):     plain %.4f   robust %.4f\n', ...
           mean (abs (plain - truth)), mean (abs (robust - truth)));
  % The second result says how the passes ended and which points they left out.
  fprintf ('robustness: %s after %d passes; weight 0 at points %s\n', info.outcome, ...
           info.passes, mat2str (find (info.weights == 0)'));

  % The nodes form evaluates the same smooth anywhere, here on a fine grid.
  grid = linspace (0, 10, 11);
  fine = quibra (grid, zeros (size (grid)), 0.2, 1, 2, x', y');
  fprintf ('\nrobust smooth on a grid (nodes form):\n');
  fprintf ('  x = %5.1f   smooth = %8.4f   sin(x) = %8.4f\n', [grid; fine; sin(grid)]);
end
