## [v, lnorm2] = qr_smooth (px, py, f, degree, xq, w, lower, deriv)
##
## An independent solve of quibra's local fits, for accuracy tests: each
## query's window is the module's (the same nearest-points walk over the
## sorted data), but the weighted least-squares polynomial comes from a QR
## factorisation of the design in a centred, scaled coordinate (LAPACK
## through the host's backslash), not from power sums and an explicit
## inverse.  W (optional, one per point) are the points' weights,
## prior times robustness; points of weight 0 or with a NaN abscissa take
## no part.  V is the fitted value at each XQ, NaN where the window cannot
## determine the polynomial; LNORM2 is sum_j l_j^2 / w_j, the value's
## variance factor, l being the fit's row of the smoother matrix.  With
## LOWER (default false), a window with fewer distinct weighted abscissae
## than DEGREE + 1 fits the highest degree they determine, one none of
## whose points the tricube weighs weighs them by W alone, and one whose
## points all lie at the query gives their mean weighted by W; both take
## every point tied at the window's ends, inside it or not.  With DERIV
## (default 0) V is instead the DERIV-th derivative of each local
## polynomial at its query, and LNORM2 its variance factor (0 for a
## lowered fit of lower degree).

function [v, lnorm2] = qr_smooth (px, py, f, degree, xq, w, lower = false, deriv = 0)
  px = px(:);
  py = py(:);
  if (nargin < 6 || isempty (w))
    w = ones (size (px));
  endif
  w = w(:);
  keep = isfinite (px) & w != 0;
  [x, p] = sort (px(keep));      # stable, as the module's sort
  y = py(keep)(p);
  w = w(keep)(p);
  n = numel (x);
  q = min (n, max (floor (n * f), degree + 1));
  v = NaN (size (xq));
  lnorm2 = NaN (size (xq));
  for i = 1:numel (xq)
    t = xq(i);
    if (! isfinite (t))
      continue;
    endif
    if (f < 1)
      s = window_start (t, q, x);
    else
      s = 1;
    endif
    idx = s:s+q-1;
    lo = x(s);
    hi = x(s+q-1);
    h = max (t - lo, hi - t);
    d = abs (x(idx) - t) / h;
    k = zeros (q, 1);
    in = d < 1;
    k(in) = (1 - d(in) .^ 3) .^ 3;
    k .*= w(idx);
    ## Centred at the query; a query beyond its window's span at the span's
    ## middle, so the design is never crowded.
    z = t;
    if (t < lo || t > hi)
      z = (lo + hi) / 2;
    endif
    sc = max (z - lo, hi - z);
    c = (x(idx) - z) / sc;
    cq = (t - z) / sc;
    if (z == t)
      cq = 0;
    endif
    if (lower && (h == 0 || ! any (k > 0)))
      ## Every point at the window's ends, with those tied with them beyond it.
      idx = find (x == lo | x == hi)';
      k = w(idx);
      c = (x(idx) - z) / max (z - lo, hi - z);
    endif
    if (h == 0 && lower)
      v(i) = sum (w(idx) .* y(idx)) / sum (w(idx));
      if (deriv > 0)
        v(i) = 0;      # a constant
      endif
      continue;
    endif
    deg = degree;
    distinct = numel (unique (x(idx)(k > 0)));
    if (distinct < degree + 1)
      if (! lower)
        continue;
      endif
      deg = distinct - 1;
    endif
    sw = sqrt (k);
    A = sw .* (c .^ (0:deg));
    [Q, R] = qr (A, 0);
    coef = R \ (Q' * (sw .* y(idx)));
    if (deriv > deg)
      v(i) = 0;
      lnorm2(i) = 0;
      continue;
    endif
    ## d^k/dx^k of c^j at the query: j!/(j-k)! cq^(j-k) / sc^k.
    j = (0:deg)';
    e = zeros (deg + 1, 1);
    e(j >= deriv) = factorial (j(j >= deriv)) ./ factorial (j(j >= deriv) - deriv) ...
                    .* cq .^ (j(j >= deriv) - deriv) / sc ^ deriv;
    v(i) = e' * coef;
    ## The value is e' R^-1 Q' (sw .* y), so l = sw .* (Q R^-T e).
    l = sw .* (Q * (R' \ e));
    live = k > 0;
    lnorm2(i) = sum (l(live) .^ 2 ./ w(idx)(live));
  endfor
endfunction
