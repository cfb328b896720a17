% placeholder
function y = quibra (varargin)
  error ("quibra: the compiled module was not found; run make_quibra first");
end
