## y = reference_smooth (X, Y, f, robust, degree, nodes_x, nodes_y)
##
## Slow m-code twin of quibra, used to check the module bit for bit.  Every
## floating-point operation is written out in the order the module performs
## it: sums run left to right from +0.0 in explicit loops, powers are
## running products, and the inverse comes from Gauss-Jordan elimination.
## Argument checking is left to the module.

function y = reference_smooth (X, Y, f = 0.2, robust = 0, degree = 2, nodes_x, nodes_y)
  if (nargin == 7)
    px = nodes_x(:);
    py = nodes_y(:);
  else
    px = X(:);
    py = Y(:);
  endif
  degree = fix (degree);

  m = build_model (px, py, f, degree);
  if (fix (robust) != 0 && ! isempty (m.x))
    m = robustify (m);
  endif

  y = NaN (size (X));
  if (isempty (m.x))
    return;                     # no data point took part
  endif
  for i = 1:numel (X)
    xq = X(i);
    if (isfinite (xq))
      y(i) = fit_at (m, xq);
    endif
  endfor
endfunction

## Every column summed row by row from +0.0; sum() makes no promise about
## its order.
function s = colsums (T)
  s = zeros (1, columns (T));
  for k = 1:rows (T)
    s += T(k,:);
  endfor
endfunction

function w = window_size (n, f, degree)
  w = min (n, max (floor (n * f), degree + 1));
endfunction

## Points with a NaN or infinite abscissa take no part.
function m = build_model (xs, ys, f, degree)
  keep = isfinite (xs);
  xs = xs(keep);
  ys = ys(keep);
  p = merge_sort_order (xs);
  m.x = xs(p);
  m.y = ys(p);
  m.w = [];
  m.f = f;
  m.degree = degree;
  m.window = window_size (numel (xs), f, degree);
endfunction

## Bottom-up ping-pong merge sort of indices.  Taking the right element only
## when strictly less keeps ties (and NaN) where the module's sort leaves them.
function src = merge_sort_order (v)
  n = numel (v);
  src = (1:n)';
  dst = zeros (n, 1);
  if (n < 2)
    return;
  endif
  width = 1;
  while (true)
    for lo = 1:2*width:n
      mid = lo + width;
      if (mid > n)
        dst(lo:n) = src(lo:n);
        continue;
      endif
      hi = min (lo + 2*width, n + 1);
      i = lo; j = mid; o = lo;
      while (i < mid && j < hi)
        if (v(src(j)) < v(src(i)))
          dst(o) = src(j); j++;
        else
          dst(o) = src(i); i++;
        endif
        o++;
      endwhile
      dst(o:hi-1) = [src(i:mid-1); src(j:hi-1)];   # one of them is empty
    endfor
    [src, dst] = deal (dst, src);
    if (2*width >= n)
      break;
    endif
    width *= 2;
  endwhile
endfunction

## A failed local fit yields FIT_FAILED, the largest finite double.
function v = fit_at (m, xq)
  FIT_FAILED = realmax ();
  q = m.window;
  n = numel (m.x);
  if (m.f < 1)
    s = window_start (xq, q, m.x);
    lo = m.x(s);
    hi = m.x(s+q-1);
  else
    s = 1;
    lo = m.x(1);
    hi = m.x(n);
  endif
  idx = s:s+q-1;
  xs = m.x(idx);
  h = hi - xq;
  if ((xq - lo) > h)
    h = xq - lo;
  endif

  ## Distances flip sign at the first abscissa at or above xq and stay
  ## flipped, so an out-of-order NaN neighbour yields a negative d.
  d = xq - xs;
  first = find (xs >= xq, 1);
  if (! isempty (first))
    d(first:end) = xs(first:end) - xq;
  endif
  w = zeros (q, 1);
  in = h > d;
  t = d(in) / h;
  u = 1 - t .* t .* t;
  w(in) = u .* u .* u;
  if (! isempty (m.w))
    w .*= m.w(idx);
  endif

  ## The polynomial is fitted in the query's own coordinate, where the
  ## query sits at 0: its value there is the constant coefficient.  A query
  ## beyond its window's span [lo, hi] takes the coordinate centred at the
  ## span's middle z, and the polynomial at its place.
  z = xq;
  if (xq < lo || xq > hi)
    z = lo + (hi - lo) * 0.5;
  endif
  sc = hi - z;
  if ((z - lo) > sc)
    sc = z - lo;
  endif
  ## Fewer distinct abscissae of nonzero weight than coefficients: the
  ## system is singular, whatever rounding leaves of its pivots.
  c = [];
  if (numel (unique (xs(w != 0))) >= m.degree + 1)
    c = fit_polynomial (m.degree + 1, (xs - z) / sc, m.y(idx), w);
  endif
  if (isempty (c))
    v = FIT_FAILED;
  elseif (z == xq)
    v = c(1);
  else
    cq = (xq - z) / sc;
    v = c(1);
    pw = cq;
    for k = 2:numel (c)
      v += pw * c(k);
      pw *= cq;
    endfor
  endif
endfunction

function c = fit_polynomial (nc, x, y, w)
  [M, b] = normal_equations (nc, x, y, w);
  Inv = invert_matrix (M);
  if (isempty (Inv))
    c = [];
    return;
  endif
  ## The module's product check of the inverse only warns; it is left out.
  c = zeros (nc, 1);
  for i = 1:nc
    acc = Inv(i,1) * b(1);
    for k = 2:nc
      acc += Inv(i,k) * b(k);
    endfor
    c(i) = acc;
  endfor
endfunction

function [M, b] = normal_equations (nc, x, y, w)
  ## Column j+1 holds the running product x^j * w, formed as ((x*w)*x)...
  G = zeros (numel (w), max (1, 2*nc-1));
  G(:,1) = w;
  for j = 2:columns (G)
    G(:,j) = G(:,j-1) .* x;
  endfor
  S = colsums (G);
  M = hankel (S(1:nc), S(nc:end));
  b = colsums (y .* G(:,1:nc)).';
endfunction

## Gauss-Jordan with partial pivoting; [] when a pivot column is all zero.
function Inv = invert_matrix (A)
  n = rows (A);
  Inv = eye (n);
  W = A;
  for j = 1:n
    p = j;
    big = abs (W(j,j));
    for k = j+1:n
      if (abs (W(k,j)) > big)
        p = k;
        big = abs (W(k,j));
      endif
    endfor
    if (big == 0)
      Inv = [];
      return;
    endif
    if (p != j)
      W([j p], j:n) = W([p j], j:n);
      Inv([j p], :) = Inv([p j], :);
    endif
    ## Rows are eliminated together: each only reads the pivot row.
    l = [1:j-1, j+1:n];
    h = W(l,j) / W(j,j);
    W(l,j) = 0;
    W(l,j+1:n) -= h .* W(j,j+1:n);
    Inv(l,:) -= h .* Inv(j,:);
    W(j,j+1:n) /= W(j,j);
    Inv(j,:) /= W(j,j);
    W(j,j) = 1;
  endfor
endfunction

## Bisquare reweighting until the weights settle or 100 passes have run.
## The model comes back unchanged when every weight vanishes, or when the
## first pass's scale is already below 1e-7 of the mean |y|; a later pass
## below that floor ends the loop on the previous pass's points.
function m = robustify (m)
  FIT_FAILED = realmax ();
  n = numel (m.x);
  bx = m.x;
  by = m.y;
  floor_at = 0;
  for j = 1:n
    floor_at += abs (by(j));
  endfor
  floor_at = 1e-7 * (floor_at / n);
  if (! isfinite (floor_at))
    floor_at = 0;               # the floor needs a finite mean |y|
  endif
  work = m;
  work.w = ones (n, 1);
  cnt = n;
  res = zeros (n, 1);
  pass = 0;
  do
    pass++;
    failed = 0;
    cur = work;                 # the arrays keep room for all n points
    cur.x = work.x(1:cnt);
    cur.y = work.y(1:cnt);
    cur.w = work.w(1:cnt);
    for j = 1:n
      v = fit_at (cur, bx(j));
      if (v == FIT_FAILED)
        res(j) = v;
        failed++;
      else
        res(j) = abs (v - by(j));
      endif
    endfor
    ## Only the value of the median matters, so a sorted copy will do.
    sr = sort (res);
    s = 6 * sr(fix ((n - failed) / 2) + 1);
    if (! isfinite (s) && sr(fix ((n - failed) / 2) + 1) != FIT_FAILED)
      return;                   # a scale that is no number weighs nothing
    endif
    if (s < floor_at)
      if (pass == 1)
        return;
      endif
      break;
    endif

    total = 0;
    for j = 1:n
      if (res(j) == FIT_FAILED)
        res(j) = 0;
        continue;
      elseif (s > res(j))
        u = res(j) / s;
        t = u * u;
        res(j) = (1 - t) * (1 - t);
      else
        res(j) = 0;
      endif
      total += res(j);
    endfor
    if (total == 0)
      return;
    endif

    changed = false;
    dropped = 0;
    for k = 1:n
      b = (n * res(k)) / total;
      if (b == 0)
        dropped++;
        continue;
      endif
      slot = k - dropped;
      if (abs (b - work.w(slot)) > 1e-4)
        changed = true;
      endif
      work.w(slot) = b;
      if (work.x(slot) != bx(k))
        work.x(slot) = bx(k);
        changed = true;
      endif
      work.y(slot) = by(k);
    endfor
    if (cnt != n - dropped)
      cnt = n - dropped;
      changed = true;
    endif
    work.window = window_size (cnt, m.f, m.degree);
  until (! (changed && pass < 100))

  m.x = work.x(1:cnt);
  m.y = work.y(1:cnt);
  m.w = work.w(1:cnt);
  m.window = work.window;
endfunction
