function make_quibra ()
%MAKE_QUIBRA  Build the quibra module from its sources, inside the host.
%   MAKE_QUIBRA compiles the module with the host's own MEX compiler and
%   puts it next to quibra.m in this folder, so that quibra is ready to
%   call and HELP QUIBRA shows its documentation. Runs in GNU Octave and in
%   the MATLAB-language host alike. A failed build ends with an error.

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  sources = read_list (fullfile (root, 'sources.list'));
  sources = cellfun (@(s) fullfile (root, s), sources, 'UniformOutput', false);
  % Reproducible arithmetic (no FMA contraction, no fast math), -O3 and
  % threads: the flags every build of the module uses.
  flags = read_list (fullfile (root, 'flags.list'));
  if (exist ('OCTAVE_VERSION', 'builtin'))
    args = [{['-I' root]}, flags];
    if (isunix () && ~ismac ())
      args{end+1} = ['-Wl,--version-script=' fullfile(root, 'host', 'exports.map')];
    end
    args = [args, {'-o', fullfile(here, ['quibra.' mexext()])}, sources];
    [out, status] = mkoctfile ('--mex', args{:});
    if (status ~= 0)
      error ('make_quibra: build failed:\n%s', out);
    end
  else
    joined = sprintf (' %s', flags{:});
    % -lut: the host's utility library answers whether the user pressed Ctrl-C.
    mex (['-I' root], ['CXXFLAGS=$CXXFLAGS' joined], ['LDFLAGS=$LDFLAGS' joined], ...
         '-outdir', here, '-output', 'quibra', sources{:}, '-lut');
  end
  % Forget any earlier lookup of quibra, so the new module is the one called.
  clear ('quibra');
  rehash ();
  fprintf ('quibra built in %s\n', here);
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
