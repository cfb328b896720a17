function t = time_call (call, reps)
%TIME_CALL  Median wall time of REPS calls of CALL, after a warm-up call.
  call ();
  times = zeros (reps, 1);
  for k = 1:reps
    tic;
    call ();
    times(k) = toc;
  end
  t = median (times);
end
