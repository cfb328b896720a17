function make_quibra ()
%MAKE_QUIBRA  Build the quibra module from its sources, inside the host.
%   MAKE_QUIBRA compiles the module with the host's own MEX compiler and
%   puts it next to quibra.m in this folder, so that quibra is ready to
%   call and HELP QUIBRA shows its documentation. Runs in GNU Octave and in
%   the MATLAB-language host alike. Each source is compiled on its own,
%   with a line of progress as it starts; in Octave on Linux and macOS as
%   many side by side as there are processors, in the MATLAB-language host
%   one after another. A failed build ends with an error.

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  names = read_list (fullfile (root, 'sources.list'));
  sources = cellfun (@(s) fullfile (root, s), names, 'UniformOutput', false);
  % Reproducible arithmetic (no FMA contraction, no fast math), -O3 and
  % threads: the flags every build of the module uses.
  flags = read_list (fullfile (root, 'flags.list'));
  objdir = tempname ();
  mkdir (objdir);
  cleanup = onCleanup (@() remove_folder (objdir));
  objects = cell (size (sources));
  for k = 1:numel (sources)
    [~, base] = fileparts (sources{k});
    objects{k} = fullfile (objdir, sprintf ('%02d_%s.o', k, base));
  end
  if (exist ('OCTAVE_VERSION', 'builtin'))
    build_octave (root, here, names, sources, objects, flags);
  else
    build_matlab (root, here, names, sources, objects, flags);
  end
  % Forget any earlier lookup of quibra, so the new module is the one called.
  clear ('quibra');
  rehash ();
  fprintf ('quibra built in %s\n', here);
end

function build_octave (root, here, names, sources, objects, flags)
  tool = ['"' fullfile(feval ('__octave_config_info__', 'bindir'), 'mkoctfile') '"'];
  % -g0: the module is for use, not for a debugger; debug information
  % (which mkoctfile's own flags ask for) would take a third of the time.
  common = sprintf (' "%s"', ['-I' root], flags{:}, '-g0');
  commands = cell (size (sources));
  for k = 1:numel (sources)
    commands{k} = sprintf ('%s --mex -c%s -o "%s" "%s"', tool, common, objects{k}, sources{k});
  end
  if (isunix ())
    jobs = max (1, nproc ());
  else
    jobs = 1;  % no processes to wait for here: one after another
  end
  run_commands (commands, names, jobs);
  args = [flags, {'-g0'}];
  if (isunix () && ~ismac ())
    % Export mexFunction and nothing else.
    args{end+1} = ['-Wl,--version-script=' fullfile(root, 'host', 'exports.map')];
  end
  args = [args, {'-o', fullfile(here, ['quibra.' mexext()])}, objects(:)'];
  fprintf ('linking quibra.%s\n', mexext ());
  [out, status] = mkoctfile ('--mex', args{:});
  if (status ~= 0)
    error ('make_quibra: linking failed:\n%s', out);
  end
end

% Runs the compile commands, at most `jobs` at a time, a progress line as
% each starts; a failed one ends the build once those running are done.
function run_commands (commands, names, jobs)
  n = numel (commands);
  running = zeros (0, 2);  % pid, index
  next = 1;
  failed = {};
  while (next <= n || ~isempty (running))
    while (next <= n && rows (running) < jobs && isempty (failed))
      fprintf ('[%d/%d] %s\n', next, n, names{next});
      fflush (stdout ());
      if (jobs == 1)
        [status, out] = system (commands{next});
        if (status ~= 0)
          failed{end+1} = sprintf ('%s:\n%s', names{next}, out);
        end
      else
        pid = system (commands{next}, false, 'async');
        running(end+1, :) = [pid, next];
      end
      next = next + 1;
    end
    if (isempty (running))
      if (~isempty (failed))
        break;
      end
      continue;
    end
    [pid, status] = waitpid (-1);
    at = find (running(:, 1) == pid, 1);
    if (isempty (at))
      continue;  % not one of ours
    end
    if (~WIFEXITED (status) || WEXITSTATUS (status) ~= 0)
      failed{end+1} = names{running(at, 2)};
    end
    running(at, :) = [];
  end
  if (~isempty (failed))
    error ('make_quibra: build failed: %s', strjoin (failed, ', '));
  end
end

function build_matlab (root, here, names, sources, objects, flags)
  joined = sprintf (' %s', flags{:});
  objdir = fileparts (objects{1});
  built = cell (size (sources));
  for k = 1:numel (sources)
    fprintf ('[%d/%d] %s\n', k, numel (sources), names{k});
    % Each source to a folder of its own: two sources may share a name.
    outdir = fullfile (objdir, sprintf ('%02d', k));
    mkdir (outdir);
    mex ('-c', ['-I' root], ['CXXFLAGS=$CXXFLAGS' joined], '-outdir', outdir, sources{k});
    found = dir (fullfile (outdir, '*.o*'));
    built{k} = fullfile (outdir, found(1).name);
  end
  fprintf ('linking quibra\n');
  % -lut: the host's utility library answers whether the user pressed Ctrl-C.
  mex (['LDFLAGS=$LDFLAGS' joined], '-outdir', here, '-output', 'quibra', built{:}, '-lut');
end

function remove_folder (folder)
  if (exist (folder, 'dir'))
    if (exist ('OCTAVE_VERSION', 'builtin'))
      confirm_recursive_rmdir (false, 'local');
    end
    rmdir (folder, 's');
  end
end

% The entries of a list file: one per line, '#' starting a comment line.
function items = read_list (file)
  text = fileread (file);
  lines = regexp (text, '[^\r\n]+', 'match');
  items = {};
  for k = 1:numel (lines)
    line = strtrim (lines{k});
    if (~isempty (line) && line(1) ~= '#')
      items{end+1} = line;
    end
  end
end
