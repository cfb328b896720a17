%QUIBRA  Locally weighted polynomial scatterplot smoothing.
%   YS = QUIBRA(X, Y) smooths the points (X, Y) and returns the smoothed
%   value at every element of X. Each value comes from its own weighted
%   least-squares polynomial, fitted to the nearest points only.
%
%   YS = QUIBRA(X, Y, F)
%   YS = QUIBRA(X, Y, F, ROBUST)
%   YS = QUIBRA(X, Y, F, ROBUST, DEGREE)
%   YS = QUIBRA(X, Y, F, ROBUST, DEGREE, NODES_X, NODES_Y) fits the data
%   (NODES_X, NODES_Y) instead and evaluates the smooth at every element of
%   X; Y is then checked but not used. NODES_X and NODES_Y may have any
%   length, also one different from X's.
%
%   Arguments
%     X, Y     Real double vectors of one length, both rows or both
%              columns (a 1-by-1 pair counts as a row). X need not be
%              sorted; repeated values are allowed.
%     F        Span, default 0.2: the fraction of the points in every
%              local fit. The window holds min(n, max(floor(n*F),
%              DEGREE+1)) points, n being the number of data points, so F
%              at or below 0 gives the smallest window and F >= 1 uses all
%              points. F is used as given (not rounded).
%     ROBUST   Default 0. Truncated toward zero (0.9 is off, -1 is on);
%              nonzero makes the fit resistant to outliers (see below).
%     DEGREE   Degree of the local polynomials, default 2. Truncated
%              toward zero (1.7 fits local lines); must lie in 0..100.
%     NaN converts to 0 for ROBUST and DEGREE; values beyond the 32-bit
%     integer range are clamped to its ends.
%
%   The local fit at an abscissa x0 takes the window of the nearest
%   points, weights each by the tricube (1 - (d/h)^3)^3 of its distance d,
%   h being the distance to the farther end of the window (which so gets
%   weight 0), and evaluates the weighted least-squares polynomial at x0.
%   NaN or Inf in the data propagate into every fit whose window holds them.
%
%   Robust smoothing
%     With ROBUST nonzero the smooth is refitted at every data point; the
%     residuals r, scaled by six times their median m, give each point the
%     bisquare weight (1 - (r/(6m))^2)^2, and points with weight 0 (those
%     with r >= 6m) leave the fit, which shrinks the window. This repeats
%     until no weight moves by more than 1e-4 and no point enters or
%     leaves, or for at most 100 passes; the result is then evaluated on the
%     reweighted points. If every weight is 0 (more than half of the
%     residuals exactly 0, as with constant or all-zero Y) the plain smooth
%     is returned.
%     The median has no floor: for data that the local polynomials
%     reproduce up to rounding (points on a line with DEGREE 1, on a
%     parabola with DEGREE 2), m is rounding noise, most points are
%     pruned, and the robust result can differ wildly from the plain one,
%     with failed fits. Use robust smoothing on noisy data.
%
%   Result
%     YS is a real double array shaped like X: a row for a row X, a
%     column for a column X. Element i belongs to X(i).
%
%   Failed fits and diagnostics
%     A local fit whose normal equations are singular (too few points with
%     nonzero weight for DEGREE+1 coefficients, or all window points at the
%     query) yields realmax (1.7976931348623157e308) in that element; spot
%     them with  YS == realmax.  Each writes on standard error
%         Error: Singular matrix inversion attempted.
%     An ill-conditioned fit keeps its value and writes
%         Warning: Unstable equation system [<value>]
%     These lines are diagnostics, not errors: the call still succeeds.
%
%   Errors (the call ends with one of these, checked in this order)
%     Wrong number of input arguments.            (not 2, 3, 4, 5 or 7 inputs)
%     X must be a noncomplex double vector!!!     (also: empty or sparse)
%     Y must be a noncomplex double vector!!!
%     X and Y must have the same length!!!
%     f must be a noncomplex scalar double.
%     robust must be a noncomplex scalar double.
%     degree must be a noncomplex scalar double.
%     degree must not be negative.
%     degree is too large.                        (above 100)
%     nodes_x must be a noncomplex double vector!!!
%     nodes_y must be a noncomplex double vector!!!
%     nodes_x and nodes_y must have the same length!!!
%     Out of memory.
%
%   Cost
%     One local fit per element of X, each linear in the window size:
%     O(numel(X) * window) after an O(n log n) sort. Robust smoothing adds
%     up to 100 passes of n fits each.
%
%   Example
%     x = linspace (0, 10, 200)';
%     y = sin (x) + 0.3 * randn (size (x));
%     y(50) = 8;                              % an outlier
%     plain  = quibra (x, y, 0.25);
%     robust = quibra (x, y, 0.25, 1);        % ignores the outlier
%     plot (x, y, '.', x, plain, x, robust);
%     xf = linspace (0, 10, 1000);            % evaluate on a finer grid
%     yf = quibra (xf, zeros (size (xf)), 0.25, 1, 2, x', y');
%
%   See also INTERP1, POLYFIT, FILTER.

%   Copyright (c) 2026 the quibra developers. BSD-3-Clause license.

function ys = quibra (varargin)
  % Only reached when the compiled module is missing: in its folder the
  % module takes precedence over this file, which then only serves help.
  error ('quibra: the compiled module was not found; build it with make_quibra');
end
