## start = window_start (xq, q, xs)
##
## 1-based start of the q consecutive sorted abscissae XS nearest to XQ, by
## the module's shrinking-step walk: at equal distances the window does not
## move.  Shared by the tests' m-code smoothers.

function start = window_start (xq, q, xs)
  n = numel (xs);
  step = n - q;
  start = 0;                    # 0-based inside the walk
  while (step > 0)
    if (start + q < n && (xq * 2.0) - xs(start+1) > xs(start+q+1))
      start += step;
      if (start + q > n)
        start = n - q;
      endif
    elseif (start > 0 && xs(start+q) > (xq * 2.0) - xs(start))
      start -= step;
      if (start < 0)
        start = 0;
      endif
    else
      step = 0;
    endif
    step = floor ((step + 1) / 2);
  endwhile
  start += 1;
endfunction
