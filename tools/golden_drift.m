function golden_drift (old_file, new_file, old_module, new_module)
%GOLDEN_DRIFT  How far re-recorded golden results moved, against a QR solve.
%   GOLDEN_DRIFT (OLD_FILE, NEW_FILE, OLD_MODULE, NEW_MODULE) reads two
%   golden files of the same calls (tests/golden/cases.txt before and after
%   a change of results) and the directories of the two modules that made
%   them, and prints per case: how many elements changed, how many could be
%   judged (a QR solve of the same windows exists and the old value was
%   within 1e-13 of max|y| of it), the largest error of the old and the new
%   values against that solve (relative to max|y|), and the largest change
%   among the judged elements. Robust cases are solved with each module's
%   own final weights (INFO.weights). Run from the project root with
%   tests/host on the path, e.g.
%     octave-cli --eval "addpath ('tools', 'tests/host'); golden_drift (...)"
  O = read_golden (old_file);
  N = read_golden (new_file);
  weights = cell (numel (O), 2);
  modules = {old_module, new_module};
  for m = 1:2
    addpath (modules{m});
    for k = 1:numel (O)
      in = O{k}.in;
      if (numel (in) >= 4 && fix (in{4}) != 0)
        [~, info] = quibra (in{:}, 'Diagnostics', 'off');
        weights{k, m} = info.weights;
      end
    end
    clear mex;
    rmpath (modules{m});
  end
  fprintf ('%-30s %6s %6s %6s %10s %10s %10s\n', 'case', 'n', 'moved', 'judged', ...
           'old err', 'new err', 'max move');
  moved = 0;
  largest = 0;
  for k = 1:numel (O)
    in = O{k}.in;
    [px, py] = deal (in{1}, in{2});
    if (numel (in) == 7)
      [px, py] = deal (in{6}, in{7});
    end
    args = {0.2, 0, 2};
    args(1:numel (in) - 2) = in(3:min (5, numel (in)));
    [f, robust, degree] = deal (args{1}, fix (args{2}), fix (args{3}));
    old = O{k}.out(:);
    new = N{k}.out(:);
    changed = sum (typecast (old, 'uint64') != typecast (new, 'uint64'));
    moved += changed > 0;
    scale = max ([abs(py(isfinite (py))); eps]);
    w = {ones(size (px)), ones(size (px))};
    if (robust != 0)
      w = weights(k, :);
    end
    ref_old = qr_smooth (px, py, f, degree, in{1}(:), w{1});
    ref_new = qr_smooth (px, py, f, degree, in{1}(:), w{2});
    ok = isfinite (ref_old) & isfinite (ref_new) & isfinite (old) & old != realmax ...
         & new != realmax;
    err_old = abs (old - ref_old) / scale;
    err_new = abs (new - ref_new) / scale;
    judged = ok & err_old <= 1e-13;
    move = max ([0; abs(new(judged) - old(judged)) / scale]);
    largest = max (largest, move);
    fprintf ('%-30s %6d %6d %6d %10.2e %10.2e %10.2e\n', O{k}.name, numel (old), changed, ...
             sum (judged), max ([0; err_old(ok)]), max ([0; err_new(ok)]), move);
  end
  fprintf ('%d of %d cases moved; the largest move of a judged element: %.3g of max|y|\n', ...
           moved, numel (O), largest);
end
