function make_quibra ()
%MAKE_QUIBRA  Build the quibra module from its sources, inside the host.
%   MAKE_QUIBRA compiles the module with the host's own MEX compiler and
%   puts it next to quibra.m in this folder, so that quibra is ready to
%   call and HELP QUIBRA shows its documentation. Runs in GNU Octave and in
%   the MATLAB-language host alike. A failed build ends with an error.

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  sources = read_source_list (fullfile (root, 'sources.list'), root);
  % Bit-reproducible results: never contract a*b+c into an FMA. -O3 only
  % speeds up the small fixed-size loops; the results are the same.
  flags = '-ffp-contract=off -std=c++20 -O3';
  if (exist ('OCTAVE_VERSION', 'builtin'))
    args = {['-I' root], '-ffp-contract=off', '-std=c++20', '-O3'};
    if (isunix () && ~ismac ())
      args{end+1} = ['-Wl,--version-script=' fullfile(root, 'host', 'exports.map')];
    end
    args = [args, {'-o', fullfile(here, ['quibra.' mexext()])}, sources];
    [out, status] = mkoctfile ('--mex', args{:});
    if (status ~= 0)
      error ('make_quibra: build failed:\n%s', out);
    end
  else
    mex (['-I' root], ['CXXFLAGS=$CXXFLAGS ' flags], '-outdir', here, ...
         '-output', 'quibra', sources{:});
  end
  % Forget any earlier lookup of quibra, so the new module is the one called.
  clear ('quibra');
  rehash ();
  fprintf ('quibra built in %s\n', here);
end

function sources = read_source_list (file, root)
  text = fileread (file);
  lines = regexp (text, '[^\r\n]+', 'match');
  sources = {};
  for k = 1:numel (lines)
    line = strtrim (lines{k});
    if (~isempty (line) && line(1) ~= '#')
      sources{end+1} = fullfile (root, line);
    end
  end
end
