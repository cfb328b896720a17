function quibra_figures (outdir)
%QUIBRA_FIGURES  Render the demos of `demo quibra` to PNG files, headless.
%   QUIBRA_FIGURES (OUTDIR) runs each %!demo block of quibra.m, the same
%   code `demo quibra` runs, and prints its figure to OUTDIR/quibra_NAME.png.
%   Needs Octave with gnuplot (the one toolkit that draws with no display)
%   and quibra on the load path. Any error in a demo ends the run.

  % One name per %!demo block, in order.
  names = {'robust', 'span', 'degree', 'nodes', 'failed', 'delta', 'outliers', 'bands', ...
           'criterion', 'columns', 'large', 'derivative', 'surface'};

  warning ('off', 'Octave:gnuplot-graphics');  % it is the right one here
  graphics_toolkit ('gnuplot');
  set (0, 'defaultfigurevisible', 'off');

  [code, idx] = test ('quibra', 'grabdemo');
  if (numel (idx) - 1 ~= numel (names))
    error ('quibra_figures: quibra.m has %d demos, expected %d', ...
           numel (idx) - 1, numel (names));
  end
  if (~ isfolder (outdir))
    mkdir (outdir);
  end
  outdir = canonicalize_file_name (outdir);
  for k = 1:numel (names)
    close all;
    run_demo (code(idx(k):idx(k+1)-1));
    % Text sized for a small picture (a legend is an axes too).
    set (findall (gcf (), 'type', 'axes'), 'fontsize', 9);
    file = fullfile (outdir, sprintf ('quibra_%s.png', names{k}));
    print (gcf (), file, '-dpngcairo', '-S720,500');
    fprintf ('wrote %s\n', file);
  end
  close all;
end

function run_demo (block)
  % Like `demo`: a function of its own, so no variables leak between demos.
  eval (sprintf ('function __quibra_figure__ ()\n%s\nend', block));
  __quibra_figure__ ();
  clear ('__quibra_figure__');
end
