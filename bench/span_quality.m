% The span choice against the truth: for a smooth curve, a wiggly one and a
% noisy line (n points, known noise, several replications), the mean squared
% error of the smooth at the span AICc and GCV choose, against that of the
% best span of a fixed grid. Run with the module on the path; prints a table.

curves = {@(x) sin(2*pi*x), @(x) sin(8*pi*x) .* exp(-x), @(x) 1 + 2*x};
names = {'smooth', 'wiggly', 'noisy line'}; sds = [0.3 0.2 1.0];
n = 1000; reps = 10; grid = [0.02:0.01:0.1, 0.12:0.02:0.3, 0.35:0.05:1];
for c = 1:3
  randn('seed', c); rand('seed', c);
  ea = 0; eg = 0; eb = 0; eall = zeros(size(grid));
  for r = 1:reps
    x = sort(rand(n,1)); mu = curves{c}(x); y = mu + sds(c)*randn(n,1);
    for g = 1:numel(grid)
      eall(g) += mean((quibra(x, y, grid(g), 0, 2, 'FailedValue', NaN, 'Diagnostics', 'off') - mu).^2);
    end
    ea += mean((quibra(x, y, 'Span', 'aicc') - mu).^2);
    eg += mean((quibra(x, y, 'Span', 'gcv') - mu).^2);
  end
  printf('%-10s best grid %.4g (span %.2f) aicc %.4g (%.2f) gcv %.4g (%.2f)\n', names{c}, min(eall)/reps, grid(find(eall==min(eall),1)), ea/reps, ea/min(eall), eg/reps, eg/min(eall));
end
