function [x, y] = bench_data (n)
%BENCH_DATA  The benchmark's data, bit for bit as the C++ benchmarks make it.
  x = zeros (n, 1);
  y = zeros (n, 1);
  state = 12345;
  for i = 1:n
    state = next_state (state);
    u = state / 2147483647;
    state = next_state (state);
    noise = state / 2147483647 - 0.5;
    xi = 10 * u;
    c = xi - 5;
    x(i) = xi;
    y(i) = c * c * c / 25 - c + noise;
    if (mod (i, 50) == 0)
      y(i) = y(i) + 20;
    end
  end
end

function s = next_state (s)
  % s * 16807 mod (2^31 - 1), exactly: the product stays below 2^53.
  p = s * 16807;
  s = p - floor (p / 2147483647) * 2147483647;
  if (s < 0)
    s = s + 2147483647;
  elseif (s >= 2147483647)
    s = s - 2147483647;
  end
end
