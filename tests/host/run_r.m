## v = run_r (code, out, files)
## Runs the R expressions CODE by Rscript in a process of its own, which
## writes its results as doubles to the file OUT; returns them. OUT and the
## FILES (a cell array: the data handed over) are deleted whatever happens.
function v = run_r (code, out, files = {})
  rscript = file_in_path (getenv ("PATH"), "Rscript");
  if (isempty (rscript))
    error ("run_r: Rscript not found; install r-base-core (tools/quibra.sh test does)");
  endif
  files{end+1} = out;
  unwind_protect
    ## Single quotes for the shell, so R's $ and quotes pass untouched.
    [status, text] = system (sprintf ("'%s' --vanilla -e '%s' 2>&1", rscript, code));
    if (status != 0)
      error ("run_r: Rscript failed:\n%s", text);
    endif
    fid = fopen (out, "r");
    v = fread (fid, Inf, "double");
    fclose (fid);
  unwind_protect_cleanup
    for k = 1:numel (files)
      if (exist (files{k}, "file"))
        delete (files{k});
      endif
    endfor
  end_unwind_protect
endfunction
