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
%   X; Y is then checked but not used, and may be []. NODES_X and NODES_Y
%   may have any length, also one different from X's.
%
%   Several signals at once: Y (NODES_Y in the nodes form) may be a matrix
%   with one column per signal and a row per element of X (NODES_X), X a
%   vector. YS then has one column per signal and a row per element of X,
%   and each column has exactly the bits of the call made with that column
%   alone, whatever the options. Plain fits share across the columns what
%   does not depend on the ordinates (see "Several signals").
%
%   YS = QUIBRA(..., 'Name', VALUE, ...) follows any of these forms with
%   options, as name-value pairs. The positional part ends at the first
%   char argument from the third input on (a string scalar counts as
%   char); names are case-insensitive and each may be given once.
%
%   [YS, INFO] = QUIBRA(...) also returns a struct that says what the call
%   did: how the robustness passes ended, the weight of every data point
%   (0 for the outliers), and which fits failed (see "The second result").
%
%   Arguments
%     X, Y     Real double vectors of one length, both rows or both
%              columns (a 1-by-1 pair counts as a row); or X a vector and
%              Y a matrix with a row per element of X. X need not be
%              sorted; repeated values are allowed.
%     F        Span, default 0.2: the fraction of the points in every
%              local fit. The window holds min(n, max(floor(n*F),
%              DEGREE+1)) points, n being the number of data points, so F
%              at or below 0 gives the smallest window and F >= 1 uses all
%              points. F is used as given (not rounded); it must not be
%              NaN. With 'Window' leave F out, or give [] in the nodes
%              form. With 'Convention' [] takes the convention's default
%              (2/3 for 'lowess', 0.75 for 'loess', 0.2 for 'native').
%     ROBUST   Default 0. Truncated toward zero (0.9 is off, -1 is on), or
%              a logical scalar; nonzero (true) makes the fit resistant to
%              outliers (see below).
%     DEGREE   Degree of the local polynomials, default 2. Truncated
%              toward zero (1.7 fits local lines); must lie in 0..100.
%     NaN converts to 0 for ROBUST and DEGREE; values beyond the 32-bit
%     integer range are clamped to its ends.
%
%   Options (each with its default; with only defaults, or with no option
%   at all, every result and every diagnostic line is the same)
%     'Delta'        0. A finite double >= 0. With Delta > 0 not every
%                    point is fitted: in ascending order of abscissa, after
%                    a fit at x_a the next fit is at the last point within
%                    x_a + Delta (or at the next point when none is), the
%                    points between are interpolated linearly between the
%                    two fits, points tied with a fitted abscissa take its
%                    value, and the last point is always fitted. This holds
%                    for the evaluation at X and for every robustness pass.
%                    A point interpolated next to a failed fit is failed
%                    too. Delta = range(X)/100 makes large data cheap (about
%                    100 fits per pass) at a small cost in accuracy.
%     'MaxPasses'    100. An integer from 1 to 100: the robustness passes
%                    stop after at most this many. No effect unless ROBUST.
%     'Weights'      all 1. Prior weights: a real double vector with one
%                    finite weight >= 0 per data point (as long as a vector
%                    Y, or NODES_Y in the nodes form, in either orientation;
%                    one per row of a matrix one, shared by its signals).
%                    Each local fit multiplies every point's tricube weight
%                    by its prior weight, and the robustness passes start
%                    from them and multiply them in. Points of weight 0 are
%                    left out of the data, as if absent.
%     'Missing'      'propagate'. A NaN ordinate spreads into every fit
%                    whose window holds it. With 'omit' data points whose
%                    ordinate is NaN are left out too, as if absent; every
%                    element of X but NaN then gets the smooth at its
%                    abscissa, so a NaN ordinate's place is filled from its
%                    neighbours.
%     'FailedValue'  realmax. Any real double (NaN too): what an element
%                    whose local fit fails holds. NaN makes MEAN, PLOT and
%                    ISNAN behave.
%     'Diagnostics'  'stderr'. Where numerical trouble is told: 'stderr'
%                    writes one line per affected fit on standard error
%                    (below); 'warning' writes none and instead raises, when
%                    the call ends, at most one warning per kind with the
%                    number of fits affected, identifiers quibra:singular
%                    and quibra:unstable (silence them with warning ('off',
%                    ID), read them with LASTWARN); 'off' tells nothing.
%     'Threads'      chosen by the call. An integer from 1 to 1024: the
%                    number of threads this call's local fits may use.
%     'Intervals'    'none'. 'confidence' adds to INFO the standard error
%                    of each element of YS and a band for the smooth's
%                    value; 'prediction' a band for a new observation
%                    there. Only a call with two results computes them
%                    (see "Standard errors and bands").
%     'Level'        0.95. A double above 0 and below 1: the band's
%                    probability.
%     'Span'         the positional F. A number (not NaN) takes F's
%                    place; 'aicc' or 'gcv' chooses the span from the data
%                    by that criterion, and F is then ignored (and may be
%                    left out: QUIBRA (X, Y, 'Span', 'aicc')); see
%                    "Choosing the span".
%     'SpanRange'    [(DEGREE+2)/n 1]. A pair [lo hi], 0 < lo <= hi <= 1:
%                    the spans an automatic span is chosen among. No
%                    effect unless 'Span' is 'aicc' or 'gcv'.
%     'Fallback'     'none'. 'lower': where a window holds fewer than
%                    DEGREE+1 distinct abscissae of nonzero weight, its fit
%                    takes the highest degree they determine (one abscissa:
%                    the weighted mean of its ordinates) instead of failing,
%                    and writes no line. A window whose points all lie at
%                    the query gives their mean, weighted by the prior and
%                    robustness weights; one none of whose points the
%                    tricube weighs (all at its two ends) weighs them by
%                    those weights alone. Both take every point tied at
%                    those abscissae, also those beyond the window, so the
%                    value does not depend on the order of the rows. It applies to every local fit
%                    (the evaluation, the robustness passes, 'Delta', the
%                    bands and the span's choice); INFO.lowered marks the
%                    values it made. Integer-valued, rounded or small data
%                    want it (see "Failed fits").
%     'Method'       'direct'. How each local fit's weighted sums are
%                    made: 'direct' sums over the window's points, a cost
%                    that grows with the window; 'fast' takes them from
%                    power moments of blocks of points, at a cost that
%                    does not, and agrees with 'direct' to rounding (see
%                    "Large data").
%     'Derivative'   0. An integer from 0 to DEGREE: YS holds the k-th
%                    derivative of each local polynomial at its element of
%                    X, in units of Y per unit of X to the k, and INFO's
%                    band is the derivative's (see "Derivatives"). A
%                    vector of distinct orders gives a page each: YS(:,:,p)
%                    and every per-query field of INFO hold order p's.
%     'Window'       none. An integer k from DEGREE+1 to the number of data
%                    points: every local fit takes the k nearest points, in
%                    place of F or 'Span' (giving either with it is an
%                    error). The call is, to the bit, the call with the
%                    span that gives windows of k points, reported as
%                    INFO.window; robust passes that leave outliers out
%                    then shrink the windows as that span's would. Points
%                    left out by 'Weights' or 'Missing' do not count: with
%                    fewer than k left, the window holds them all.
%     'Convention'   'native'. 'lowess' follows R's lowess (x, y, f, iter,
%                    delta) to its rules and rounding (see "R's lowess"),
%                    'loess' R's loess (y ~ x, span, degree, family,
%                    surface = "direct") to rounding (see "R's loess").
%     'Normalize'    true. With a matrix X (several predictors), whether
%                    each is first scaled by its trimmed standard
%                    deviation (see "Surfaces"); true or false, 1 or 0.
%                    With one predictor it changes nothing.
%     An option that leaves no data point (all omitted, or all of weight
%     0) is an error.
%
%   The local fit at an abscissa x0 takes the window of the nearest
%   points, weights each by the tricube (1 - (d/h)^3)^3 of its distance d,
%   h being the distance to the farther end of the window (which so gets
%   weight 0), and evaluates the weighted least-squares polynomial at x0.
%
%   Missing values
%     A data point whose abscissa is NaN or infinite has no place among the
%     others: it is left out, as if absent (n counts only the others, and it
%     takes no part in robust smoothing). Where X is NaN or infinite the
%     result is NaN, with no fit and no diagnostic; if no data point is
%     left, every result is NaN.
%     A NaN ordinate, or Inf in the data, propagates into every fit whose
%     window holds it.
%
%   Accuracy
%     Each local polynomial is fitted in the coordinate of its own query:
%     the offset from the query scaled by the window's h, in which the
%     window's points lie within [-1, 1], and the value is the
%     polynomial's constant term. So results do not depend on where the
%     data sit (date numbers, epoch seconds, years, large negative values)
%     or on how narrow the window is. A query outside the span of its
%     window's abscissae (beyond the data, or across a gap wider than the
%     window) is fitted in the offset from the middle of that span, scaled
%     by half the span, and the polynomial is evaluated at the query.
%     Largest difference from a QR solve of the same windows, relative to
%     max|Y| (bench/accuracy.m: 10^5 points with windows of 100, and a grid
%     reaching a tenth of the range beyond 2000 points):
%         DEGREE           1      2      3      4      5      6
%         at the data   1e-15  2e-15  2e-15  4e-15  2e-13  1e-11
%         beyond it     3e-14  6e-13  2e-12  6e-11  7e-12  3e-11
%     Higher degrees lose digits fast (5e-10 at degree 8, 3e-8 at 10, 6e-4
%     at 12, and beyond the data up to 1e-5 by degree 10): prefer a lower
%     degree with a smaller span. Whatever the degree, a fit whose value
%     may be off by more than 1e-8 * max|Y| is reported as unstable (see
%     "Failed fits and diagnostics"), so an unreported value is that close.
%     Abscissae of magnitude 2^1023 (about 9e307) or more, in the data or
%     in X, are all halved for the whole evaluation, so that no distance
%     overflows; the fits are the same, as they depend only on ratios of
%     distances (but for subnormal abscissae, which lose a bit).
%
%   Robust smoothing
%     With ROBUST nonzero the smooth is refitted at every data point (also
%     at those an earlier pass left out), giving absolute residuals r.
%     Their median m is taken over the fits that did not fail, and for an
%     even count N of them it is the upper of the two middle values (rank
%     N/2, counted from 0, in ascending order), not their mean. Scaled by
%     six times m, the residuals give each point the bisquare weight
%     (1 - (r/(6m))^2)^2. Points with weight 0 (those with r >= 6m, and
%     those whose fit failed) leave the data: the next pass places each
%     window among the n' points left and sizes it from their count,
%     min(n', max(floor(n'*F), DEGREE+1)) points. This repeats until no
%     weight moves by more than 1e-4 and no point enters or leaves, or for
%     at most 100 passes; the result is then evaluated on the reweighted
%     points. If every weight is 0 (more than half of the residuals
%     exactly 0, as with all-zero Y) the plain smooth is returned.
%     The scale 6m has a floor. Where the local polynomials reproduce the
%     data up to rounding (points on a line with DEGREE 1, on a parabola
%     with DEGREE 2), m is rounding noise, and weights drawn from it would
%     prune points at random. So in each pass, if 6m is below 1e-7 times
%     the mean of |Y| over the data points, the passes stop: in the first
%     pass the plain smooth stands; in a later one the points and weights
%     of the pass before stand, and the result is evaluated on them. Data
%     whose variation is below 1e-7 of their magnitude (readings such as
%     1e9 + noise) meet the floor too and get the plain smooth: remove the
%     offset first, QUIBRA(X, Y - C, ...) + C with C = MEAN(Y). The floor
%     needs a finite mean |Y|: with a NaN or Inf in Y it is left out. When
%     the scale 6m itself is no finite number (NaN or infinite residuals
%     around the median), the points cannot be weighed: the passes stop,
%     the plain smooth stands and INFO.outcome is 'nonfinite'.
%
%   R's lowess
%     R's lowess fits local lines with tricube weights over windows of the
%     same size, and places the fits for its delta as 'Delta' does. So
%     QUIBRA(X, Y, F, 0, 1) agrees with lowess(X, Y, F, iter = 0, delta =
%     0), and with 'Delta', D with delta = D: to rounding on R's data sets
%     pressure and cars, to about 1e-9 of max|Y| on noisy data, all of it
%     on R's side. (Where a window's abscissae have a weighted standard
%     deviation below about 0.1% of the data's range, R fits their
%     weighted mean instead of a line.) lowess(X, Y) at its defaults makes
%     three robustness passes with delta range(X)/100, as QUIBRA(X, Y,
%     2/3, 1, 1, 'Delta', range(X)/100, 'MaxPasses', 3) does, but where
%     quibra takes the upper of the two middle residuals for an even count
%     and lets points of weight 0 leave the data (see Robust smoothing),
%     R takes the mean of the two and keeps such a point in place with
%     weight 0, so its windows stay where they were. The robust results
%     agree (to 5e-9 of max|Y|) only with an odd count of residuals (failed
%     fits not counted), no point at weight 0 and all three passes run
%     (INFO.passes is 3). On pressure (19 points, 7 at weight 0) the two
%     differ by 0.68 of max|Y|, on cars (50 points, none at weight 0) by
%     0.0037. tests/host/lowess.tst measures these figures against R.
%
%   Result
%     YS is a real double array shaped like X: a row for a row X, a
%     column for a column X. Element i belongs to X(i). With a matrix Y
%     (several signals), YS has a row per element of X and a column per
%     signal: YS(i, j) belongs to X(i) and column j of Y. With several
%     'Derivative' orders, YS(:, :, p) holds the p-th order given.
%
%   The second result
%     INFO is a struct with these fields. With several signals, a field of
%     one value per data point or per element of X (weights, failed,
%     unstable, se, lower, upper, lowered) holds one column per signal, and a field of
%     one value per call (outcome, passes, converged, window, scale,
%     sigma, enp, dof, span) a row of one entry per signal; outcome and
%     criterion are then cell rows.
%       outcome    How the robustness passes ended: 'plain' (ROBUST is
%                  0, no passes), 'converged' (the weights settled),
%                  'exact' (stopped by the floor above), 'abandoned'
%                  (every weight was 0: the plain smooth stands),
%                  'nonfinite' (the scale was no finite number: the
%                  plain smooth stands) or
%                  'exhausted' (the pass limit, 100 or 'MaxPasses', ran
%                  out with weights still moving).
%       passes     Robustness passes run, the last one included; 0 for a
%                  plain call.
%       converged  Logical: true unless outcome is 'exhausted'.
%       weights    The robustness weight of every data point, in [0, 1]:
%                  its bisquare weight in the last reweighting, 0 for a
%                  point left out as an outlier; all 1 for a plain call
%                  and wherever the plain smooth stands; 0 for a point
%                  that takes no part (a NaN abscissa, prior weight 0, a
%                  NaN ordinate with 'Missing' 'omit'). Shaped like Y
%                  (NODES_Y in the nodes form) and in its order, so
%                  INFO.weights == 0 marks the outliers.
%       failed     Logical, shaped like YS: true where the local fit
%                  failed (YS is realmax, or 'FailedValue', there), also
%                  where 'Delta' interpolates next to a failed fit; false
%                  where X is NaN.
%       unstable   Logical, shaped like YS: true where the local fit was
%                  unstable (see "Failed fits and diagnostics": its value
%                  may be off by more than 1e-8 * max|Y|), also where
%                  'Delta' interpolates next to such a fit.
%       window     Points in each local fit at the end, after the passes
%                  left the outliers out.
%       scale      The last pass's residual scale 6m; NaN for a plain
%                  call.
%     With 'Intervals' (see below):
%       se         Standard error of each element of YS, shaped like YS.
%       lower      The band: YS -/+ t * se, with t Student's quantile on
%       upper      dof degrees of freedom; shaped like YS.
%       sigma      Residual standard error: sqrt(RSS / dof).
%       enp        Equivalent number of parameters: trace(L).
%       dof        Residual degrees of freedom: n - 2 trace(L) +
%                  trace(L'L).
%     With 'Fallback' 'lower':
%       lowered    Logical, shaped like YS: true where the value came from
%                  a lowered fit (or 'Delta' interpolates next to one).
%     With 'Span' 'aicc' or 'gcv' (see below):
%       span       The span chosen and used.
%       criterion  Every span tried, ascending, in column 1 and its
%                  criterion in column 2 (Inf where it cannot win).
%     With one result none of this is computed or stored.
%
%   Standard errors and bands
%     Every value of the smooth is a linear combination of the ordinates,
%     sum_j l_j y_j, so at the data points YS = L*Y for a smoother matrix
%     L. 'Intervals' computes from each local fit the squared norm of its
%     row, sum_j l_j^2, and its diagonal element, never forming L: the
%     cost is one more pass over each window (a third to a half of the
%     plain call's time) and storage linear in n. With n the data points taking
%     part and RSS the sum of squared residuals at them, sigma^2 = RSS /
%     dof; se = sigma * sqrt(sum_j l_j^2) for 'confidence', and sigma *
%     sqrt(sum_j l_j^2 + 1) for 'prediction'. The band's t is Student's
%     quantile for probability 'Level' on dof degrees of freedom, from the
%     host's BETAINCINV.
%     Weights: the ordinates are taken as independent with variance
%     sigma^2 / w_j for a point of weight w_j ('Weights'); RSS is then sum
%     w_j r_j^2, sum_j l_j^2 becomes sum_j l_j^2 / w_j, trace(L'L) becomes
%     trace(L W^-1 L' W), and a new observation has weight 1. With all
%     weights 1 these are the formulas above.
%     Robust calls: L is the final weighted smoother, the robustness
%     weights held fixed, but they are no precisions of the ordinates:
%     var y_j stays sigma^2 / p_j (p_j the prior weight, 1 without
%     'Weights'), so sum_j l_j^2 / p_j is the variance factor. sigma is a
%     robust scale of the residuals through the same L: 1.4826 times the
%     median of |r_j| sqrt(p_j) / sqrt(1 - 2 L_jj + p_j sum_k L_jk^2 / p_k)
%     over the points kept, which neither the outliers left out (absent)
%     nor the down-weighting shrink; dof and enp as above over the points
%     kept. In simulation (300 samples of 300 points, noise sd 0.5, f 0.4,
%     degree 2) sigma averages 0.496, and the 95% bands cover 94.3%
%     (confidence) and 94.8% (prediction) of the points, 95.2% and 94.8%
%     with 5% gross outliers (bench/band_coverage.m).
%     The nodes form takes sigma and dof from the fit at the nodes (the
%     data), and the standard errors at X. With 'Delta' the standard
%     errors, and the diagonal and row norms behind dof and trace(L), are
%     interpolated like the values, so dof and enp are then
%     approximations. Where a fit failed, se, lower and upper are NaN, and
%     the sums leave that point out.
%     Exactness: the standard errors come from the very local system that
%     gives YS (see Accuracy), so they are as accurate as the values.
%
%   Derivatives
%     Each local polynomial is fitted in the coordinate c = (x - x0) / h
%     of its own query x0, so its coefficient a_k of c^k is its k-th
%     derivative there times h^k / k!: 'Derivative', k returns k! a_k /
%     h^k, from the very solve that gives the value, at the same cost
%     (bench/bench_derivative.m: 0.96 to 1.05 times the smooth). A
%     query outside its window's span (beyond the data, or across a gap)
%     takes the derivative, at the query, of the polynomial fitted about
%     the span's middle. With robust passes it is the derivative of the
%     final weighted fit; with several signals, per column; with 'Delta'
%     the fitted derivatives are interpolated as the values are; a fit
%     that 'Fallback' 'lower' lowered below degree k gives 0, and
%     INFO.lowered marks it.
%     Its band ('Intervals' 'confidence') is for the expected derivative
%     of the local fit, the derivative of the same local polynomials fitted
%     to the noiseless curve, like the value's band, not for the curve's
%     own derivative: the smooth's bias carries over, and grows with the
%     span and the order. se is sigma times the norm of the derivative's
%     row of the smoother matrix, from row k of the same inverse; sigma,
%     dof and enp stay those of the smooth of the data. At the data the
%     derivative's own fits give the smooth's values beside it, so the
%     band costs what the value's does (1.01 to 1.04 times); these values
%     come from the centred ordinates the derivative's sums take, so sigma
%     agrees with the smooth's own to the rounding of Y (1e-10 relative
%     with Y near 10^6 and noise 0.1; dof and enp are the same bits).
%     In simulation (300 samples of sin(2 pi x) + N(0,
%     0.5^2), f 0.3, degree 2) the first derivative's 95% bands cover the
%     expected slope 94.8% of the time at n = 300 and 94.9% at n = 3000
%     (degree 3: 95.5% and 94.9%; bench/derivative_coverage.m).
%     'prediction' has no meaning for a derivative and is an error.
%     Accuracy: against a QR solve of the same windows, at 10^5 points as
%     date numbers with windows of 100 points and with the span 0.3,
%     degrees 1 to 4, derivatives 1 to the degree differ by at most 7e-10
%     of the largest derivative, and their standard errors by 1.3e-10
%     relative (bench/accuracy_derivative.m). The sums take each
%     window's ordinates less the one at its middle, so a polynomial of
%     the fit's degree gives its derivatives to the rounding of the data:
%     eps * |Y| divided by h^k, which no solve removes (with windows of 100
%     points out of 10^5, 6.4e-2 of a quartic's fourth derivative, where a
%     QR solve is off by 0.11). INFO.unstable judges each derivative's own
%     coefficient.
%     Several orders ('Derivative', [0 1 2]) give a page each, in YS and in
%     INFO's se, lower, upper, failed, unstable and lowered; the model, the
%     span's choice and the robustness passes are made once, so a robust
%     call of three orders costs about half three calls (a plain one the
%     same). Each derivative's page is, to the bit, its call alone. The
%     value's page comes from the same centred ordinates, so it is the
%     smooth to its rounding (within 6e-15 relative; far from zero it is
%     the more accurate: a line of ordinates near 2000 comes out exact,
%     where the plain smooth is off by 2.5e-11), and one sigma serves
%     every page.
%
%   Several signals
%     With a matrix Y each column is smoothed as it would be alone, to the
%     bit, lines on standard error included (column after column). Plain
%     calls (ROBUST 0, a fixed span, no NaN that 'Missing' 'omit' leaves
%     out) fit every column on the same points, so the columns share each
%     window's placement, its tricube weights, the solve of its normal
%     equations and a band's leverages and variance factors: only the
%     right-hand sides, and each band's sigma, are worked out per column.
%     64 columns then cost about a tenth of 64 calls, 8 columns about a
%     quarter of 8. Robust calls, 'Span' 'aicc' or 'gcv', and 'Missing'
%     'omit' with NaN ordinates work column by column: each column's
%     robustness passes leave out its own outliers, so the windows of
%     different columns part ways, and the time is that of one call per
%     column (shared among the threads as a single call is).
%
%   Choosing the span
%     With 'Span' 'aicc' the span minimises the corrected Akaike criterion
%     of Hurvich, Simonoff and Tsai (1998), AICc = log(RSS/n) + 1 + 2
%     (trace(L) + 1) / (n - trace(L) - 2); with 'gcv' generalised cross-
%     validation, GCV = n RSS / (n - trace(L))^2. RSS is that of the plain
%     smooth at the data points (weighted by 'Weights'). Each span is
%     evaluated exactly, as one smooth of the data with its trace. The
%     spans tried are those of the windows of (DEGREE+2)/n to 1 (or
%     'SpanRange'): a grid of 10 windows spaced geometrically from the
%     least to the most points, then two rounds that try two windows
%     between the best one and each neighbour, geometrically spaced. A
%     span whose smooth fails somewhere, or with a denominator not above
%     0, gets Inf and cannot win. The span of a window of q points is
%     reported as q/n, raised to the next double while floor(n*f) < q. Robust
%     calls choose the span on the plain smooth, then run the passes with
%     it; 'Delta' applies to every evaluation (with the trace interpolated
%     as above). The cost is at most 18 smooths with their traces,
%     dominated by the largest spans: see Cost.
%
%   Failed fits and diagnostics
%     With 'Fallback' 'lower' no window fails for want of distinct
%     abscissae: the fit lowers its degree instead (see Options); the rest
%     of this paragraph describes the default, 'none'.
%     A local fit that cannot be made yields realmax
%     (1.7976931348623157e308) in that element; spot such elements with
%     YS == realmax, or with INFO.failed. A fit fails exactly when its
%     window holds fewer than DEGREE+1 distinct abscissae with nonzero
%     weight (or, rarely, when its normal equations meet a zero pivot):
%     always when the window has just DEGREE+1 points, as its farthest
%     point gets weight 0 (choose F with floor(n*F) >= DEGREE+2), and near
%     many points sharing one abscissa. Each failed fit writes on standard
%     error
%         Error: Singular matrix inversion attempted.
%     An ill-conditioned fit keeps its value and writes
%         Warning: Unstable equation system [<value>]
%     and INFO.unstable marks it. A fit is unstable when its inverse
%     fails the check that it times the normal matrix is the identity
%     (<value> is the first entry off by more than 10000), or when the
%     rounding error its value may carry, estimated from that inverse,
%     exceeds 1e-8 * max|Y| (<value> is that estimate in units of
%     eps * max|Y|, so above 1e-8/eps = 4.5e7). The normal equations
%     square the conditioning of the fit, so this happens at high degrees
%     (from about 8 on, on long one-sided windows at the ends of the data
%     or beyond them) and on badly spread windows: prefer a lower degree
%     with a smaller span. Other values are within 1e-8 * max|Y| of an
%     exact solve of the same local fit.
%     These lines are diagnostics, not errors: the call still succeeds.
%     With 'Delta' only real fits write them, in ascending order of
%     abscissa. 'Diagnostics' turns them into warnings or off, and
%     'FailedValue' sets what a failed element holds.
%     They go to the process's standard error, which a desktop session may
%     not show (the terminal that started the host does), so YS == realmax
%     or INFO.failed is the dependable test.
%     When storage runs out the call ends. Octave's allocator ends it
%     itself, with its own message ("quibra: failed to allocate N bytes of
%     memory", no identifier), and the MATLAB-language host likewise with
%     its own; a host whose allocator returns no storage instead gets the
%     line
%         Alzheimer's error
%     on standard error and the error "Out of memory." (below).
%
%   Errors (the call ends with one of these, checked in this order: the
%   positional arguments, then the options from left to right). Each has
%   an identifier, shown in brackets, for err.identifier after a catch.
%     Wrong number of input arguments.            (not 2, 3, 4, 5 or 7
%         [quibra:nargin]                          positional inputs)
%     Too many output arguments.                  (more than two results)
%         [quibra:nargout]
%     X must be a noncomplex double vector!!!     (also: empty or sparse)
%         [quibra:X]
%     Y must be a noncomplex double vector!!!
%         [quibra:Y]
%     Y must not have more than two dimensions.
%         [quibra:YDims]
%     X and Y must have the same length!!!        (a vector Y)
%         [quibra:XYLength]
%     Y must have as many rows as X has elements. (a matrix Y)
%         [quibra:YRows]
%     f must be a noncomplex scalar double.
%         [quibra:f]
%     f must not be NaN.
%         [quibra:fNaN]
%     robust must be a noncomplex scalar double.
%         [quibra:robust]
%     degree must be a noncomplex scalar double.
%         [quibra:degree]
%     degree must not be negative.
%         [quibra:degreeNegative]
%     degree is too large.                        (above 100)
%         [quibra:degreeTooLarge]
%     nodes_x must be a noncomplex double vector!!!
%         [quibra:nodes_x]
%     nodes_y must be a noncomplex double vector!!!
%         [quibra:nodes_y]
%     nodes_y must not have more than two dimensions.
%         [quibra:nodes_yDims]
%     nodes_x and nodes_y must have the same length!!!
%         [quibra:nodesLength]
%     nodes_y must have as many rows as nodes_x has elements.
%         [quibra:nodes_yRows]
%     Options must come in name-value pairs.      (an odd number of
%         [quibra:optionPairs]                     option arguments)
%     Option names must be char row vectors.
%         [quibra:optionName]
%     Unknown option 'NAME'.                      (NAME as given)
%         [quibra:optionUnknown]
%     Option 'NAME' is given twice.
%         [quibra:optionRepeated]
%     Delta must be a finite noncomplex scalar double >= 0.
%         [quibra:Delta]
%     MaxPasses must be an integer from 1 to 100.
%         [quibra:MaxPasses]
%     Weights must be a noncomplex double vector as long as the data.
%         [quibra:Weights]
%     Weights must be finite and >= 0.
%         [quibra:WeightValues]
%     Missing must be 'propagate' or 'omit'.
%         [quibra:Missing]
%     FailedValue must be a noncomplex scalar double.
%         [quibra:FailedValue]
%     Diagnostics must be 'stderr', 'warning' or 'off'.
%         [quibra:Diagnostics]
%     Threads must be an integer from 1 to 1024.
%         [quibra:Threads]
%     Intervals must be 'none', 'confidence' or 'prediction'.
%         [quibra:Intervals]
%     Level must be a noncomplex scalar double above 0 and below 1.
%         [quibra:Level]
%     Span must be a noncomplex scalar double (not NaN), 'aicc' or 'gcv'.
%         [quibra:Span]
%     SpanRange must be a noncomplex double pair [lo hi] with 0 < lo <= hi <= 1.
%         [quibra:SpanRange]
%     Fallback must be 'none' or 'lower'.
%         [quibra:Fallback]
%     Method must be 'direct' or 'fast'.
%         [quibra:Method]
%     Derivative must be an integer from 0 to degree, D, or a vector of
%     distinct ones.
%         [quibra:Derivative]                      (D the degree)
%     Window must be an integer from A to B.      (A = DEGREE+1, B the
%         [quibra:Window]                          number of data points)
%     Window replaces the span: give neither f nor 'Span' with it.
%         [quibra:WindowSpan]                      (after the options)
%     Intervals 'prediction' has no meaning for a derivative: use 'confidence'.
%         [quibra:DerivativePrediction]            (after the options)
%     Convention must be 'native', 'lowess' or 'loess'.
%         [quibra:Convention]
%     'Method' 'fast' cannot follow R's lowess, whose weights are cut at 0.001 and 0.999 of the bandwidth.
%         [quibra:lowessFast]                      (after the options)
%     R's lowess has no counterpart of WHAT.      (WHAT: 'Derivative',
%         [quibra:lowessOther]                     'Intervals', an automatic
%                                                  'Span', 'Window', 'Fallback'
%                                                  'lower' or 'SpanRange')
%     R's lowess fits local lines: degree must be 1.
%         [quibra:lowessDegree]                    (after the options)
%     'Method' 'fast' cannot follow R's loess, which solves each local fit through its singular values, not from sums of moments.
%         [quibra:loessFast]                       (after the options)
%     R's loess has no counterpart of WHAT.       (WHAT: as for lowess,
%         [quibra:loessOther]                      or 'Delta'; 'Intervals'
%                                                  only with a vector X)
%     R's loess fits local polynomials of degree 0, 1 or 2.
%         [quibra:loessDegree]                     (after the options)
%     R's loess needs windows of at least degree + 1 = K points; floor(f n) is M here.
%         [quibra:loessSpan]                       (n the points taking
%                                                  part, 'Weights' 0 too)
%     Normalize must be true or false.
%         [quibra:Normalize]
%     A matrix X takes 2 to 4 predictors, a column each; X has D columns.
%         [quibra:XColumns]                        (X with 2 or more rows)
%     Y must have a row per row of X (or be a vector as long as X has rows).
%         [quibra:XYRows]
%     In the nodes form of a surface, Y must be [].
%         [quibra:surfaceY]
%     X must have a column per predictor of nodes_x: D columns.
%         [quibra:XqColumns]
%     A surface fits local polynomials of degree 0, 1 or 2.
%         [quibra:surfaceDegree]
%     WHAT has no meaning for a surface.          (WHAT: 'Delta', 'Method'
%         [quibra:surfaceOption]                   'fast', 'Derivative',
%                                                  'Convention' 'lowess' or
%                                                  'Fallback' 'lower')
%     A surface needs windows of at least K points, its polynomial's terms; it has M here.
%         [quibra:surfaceSpan]                     (after the options)
%     No data point is left: every one is missing or has weight 0.
%         [quibra:noData]                          (after the options)
%     Out of memory.                              (where the host's allocator
%                                                  returns no storage)
%         [quibra:outOfMemory]
%     Interrupted.                                (Ctrl-C during the
%         [quibra:interrupted]                     call; see Cost)
%
%   R's lowess
%     With 'Convention' 'lowess' a call gives the values of R's
%     lowess (x, y, f, iter, delta), to its rounding, at every data point:
%     local lines (DEGREE, when given, must be 1) over windows of
%     floor(f n + 1e-7) points, at least 2, F 2/3 when not given; tricube
%     weights that are exactly 1 within 0.001 of the bandwidth and 0
%     beyond 0.999 of it; the weighted mean where the window's weighted
%     spread is below 0.001 of the data's range; fits at most 'Delta'
%     apart (R's delta, by default 1% of the range of X) with the points
%     between interpolated (points tied with a fit's abscissa take its
%     value, also where R's line would make them NaN); and, with ROBUST true, R's iter = 3
%     reweightings ('MaxPasses' sets another count) by the bisquare of
%     the residuals over six times their median (for an even count the
%     mean of the two middle ones), 1 within 0.001 and 0 beyond 0.999 of
%     it, points of weight 0 staying in their windows, and R's stopping
%     test (the median below 1e-7 of the mean absolute residual).
%     INFO.weights holds the robustness weights of the last fits and
%     INFO.passes the reweightings made; INFO.outcome is 'exact' where
%     R's test stopped them early, else 'converged'. 'Weights' multiply
%     the tricube weights (R's lowess has none). Other queries (the nodes
%     form) get the local line there with the final weights; at a data
%     point with 'Delta' 0 that is R's value. Several signals are each
%     smoothed alone. Bands, derivatives, an automatic span, 'Window',
%     'Fallback' 'lower' and 'Method' 'fast' are refused (see Errors).
%       ys = quibra (x, y, 2/3, true, 'Convention', 'lowess');  % lowess (x, y)
%
%   R's loess
%     With 'Convention' 'loess' a call gives the fitted values of R's
%     loess (y ~ x, span = F, degree = DEGREE, family, surface = "direct")
%     to rounding: DEGREE 0, 1 or 2 (default 2), F 0.75 when not given;
%     windows of floor(n F) points (all n when F >= 1), which must hold
%     DEGREE + 1; weights sqrt(w (1 - t^3)^3), t the distance over the
%     window's farthest (scaled by sqrt(F) when F > 1) and w the point's
%     weight; each fit solved in least squares through its singular
%     values, as R's pseudo-inverse. ROBUST true is family "symmetric":
%     R's 4 fits, 3 reweightings ('MaxPasses' sets another count) by the
%     bisquare of the residuals over six times their median, 1 within
%     0.001 and 0 beyond 0.999 of it, all 1 where that scale is below the
%     smallest normal double; ROBUST false is family "gaussian". 'Weights'
%     are R's weights: points of weight 0 stay in the windows and count
%     in n. INFO.weights holds the robustness weights of the last fits
%     (R's fit$robust), INFO.passes the reweightings. Other queries (the
%     nodes form) get R's predict at them, beyond the data too. Where R
%     has no number quibra differs: a window all at one abscissa (R: NaN)
%     gives the weighted mean of every point there; a window whose points
%     all weigh 0 (R: 0) has no estimate (see 'FailedValue'), and its
%     point's residual is taken as R's, from 0. Bands, derivatives, an
%     automatic span, 'Window', 'Delta', 'Fallback' 'lower' and 'Method'
%     'fast' are refused (see Errors). Each fit takes the whole window, so
%     a pass costs n windows of floor(n F) points: O(n^2 F), as in R.
%       ys = quibra (x, y, [], true, 'Convention', 'loess');
%       % fitted (loess (y ~ x, family = "symmetric",
%       %                control = loess.control (surface = "direct")))
%     Agreement, measured by tests/host/convention.tst against R 4.2 on
%     R's cars, pressure, women, faithful, trees, mtcars and swiss and on
%     noisy data with outliers, ties, an offset of 1e6 and 4 to 12 points,
%     spans 0.3, 0.75 and 1.5, degrees 1 and 2, 0 to 5 reweightings: at
%     most 1.2e-14 of max|Y|. Left out are robust calls whose residuals
%     before a reweighting are mostly rounding (their median below 1e-9
%     of max|Y|: a fit through every point of its window, as on pressure
%     or mtcars at span 0.3): their robustness weights, R's too, are made
%     of rounding errors, and no two solvers agree there.
%
%   Surfaces: two to four predictors
%     YS = QUIBRA(X, Y, F, ROBUST, DEGREE) with X an n-by-d matrix, d = 2
%     to 4 (a row per point, a column per predictor, at least 2 rows)
%     smooths Y over the d predictors and returns the surface's value at
%     every row of X, as a column (a column per signal when Y is an
%     n-by-k matrix, each with the bits of its call alone).
%     YS = QUIBRA(XQ, [], F, ROBUST, DEGREE, NODES_X, NODES_Y) fits the
%     data (NODES_X n-by-d, NODES_Y) and evaluates at the m rows of XQ
%     (m-by-d). A vector X keeps its meaning of one predictor.
%     Each fit follows R's loess (y ~ x1 + ... + xd, span = F, degree =
%     DEGREE, surface = "direct"), whatever 'Convention' says: DEGREE 0, 1
%     or 2, where 2 includes the cross terms; each window holds the
%     floor(n F) points nearest in Euclidean distance (all n when F >= 1),
%     at least the polynomial's terms (1, d + 1 or (d + 1)(d + 2)/2);
%     weights sqrt(w (1 - t^3)^3), t the distance over the window's
%     farthest (scaled by sqrt(F) when F > 1) and w the point's weight;
%     each fit solved in least squares: through its normal equations
%     where those are well conditioned (their columns scaled to unit
%     length, condition at most 1e4), else through its singular values,
%     as R's pseudo-inverse, so a window whose points cannot determine the
%     polynomial gives R's minimum-norm fit, not a failure. A window all
%     at the query gives the weighted mean of every point there.
%     'Normalize' true (the default) first scales each predictor by its
%     trimmed standard deviation, that of its values once the lowest and
%     the highest ceil(n/10) are set aside, as R's normalize = TRUE; a
%     predictor whose trimmed values are all equal stays as it is (R
%     would divide by 0). 'Normalize' false leaves every predictor as
%     given.
%     ROBUST true runs this module's passes (see "Robust smoothing"): the
%     bisquare of the residuals over six times their median, points of
%     weight 0 left out of the windows, until the weights settle
%     ('MaxPasses'); INFO.outcome, passes and scale say how they ended.
%     With 'Convention' 'loess' it is R's family "symmetric" instead (3
%     reweightings, every point kept; 'MaxPasses' sets another count).
%     'Weights' are R's: points of weight 0 stay in the windows and count
%     in n. A row of X with a coordinate NaN or infinite takes no part
%     and gets NaN; 'Missing' 'omit' leaves out points whose Y is NaN.
%     'FailedValue', 'Diagnostics', 'Threads', 'Window' (k points in
%     every window) and the second result work as for one predictor
%     (INFO.weights: the last fits' robustness weights). 'Intervals' and
%     'Level' make R's exact standard errors (statistics = "exact"):
%     INFO.se = sigma sqrt(sum_j L_j^2 / w_j) for the value sum_j L_j y_j
%     (sqrt(1 + ...) for 'prediction'), INFO.sigma R's residual standard
%     error s, INFO.dof R's one.delta, n - 2 tr(L) + sum_ij L_ij^2 (the
%     squares unweighted, as R sums them), and INFO.enp R's enp, which is
%     sum_ij L_ij^2 (R's trace.hat is tr(L)); the band is value -/+ t se,
%     t on dof degrees of freedom (R's predict takes one.delta^2 /
%     two.delta there, which needs the whole n-by-n L; at 120 points the
%     two t quantiles differ in the fourth digit). 'Delta', 'Method'
%     'fast', 'Derivative', 'Fallback' 'lower' and 'Convention' 'lowess'
%     have no meaning for a surface.
%     'Intervals' after robust passes: L is the final weighted fits, the
%     robustness weights held fixed, and the variance factor stays sum_j
%     L_j^2 / w_j, w_j the prior weight, as R's predict takes it. After
%     this module's passes, sigma is the robust scale of one predictor
%     (see Intervals: 1.4826 times the median standardised residual), and
%     n, tr(L) and sum_ij L_ij^2 in dof and enp are over the points the
%     passes kept (in simulation, 300 samples of 300 points over two
%     predictors, noise sd 0.5, F 0.4, DEGREE 2: sigma averages 0.492,
%     and the 95% prediction bands cover 94.5% of new observations, 94.6%
%     with 5% gross outliers; bench/band_coverage.m). With 'Convention'
%     'loess' they are R's family "symmetric": enp and dof those of the
%     plain fits (the prior weights alone), and sigma R's s from its
%     pseudovalues pv_i = yhat_i + c rw_i r_i (rw_i the last robustness
%     weights, r_i the residuals, c = n / sum_i (1 - 5 u_i^2) sqrt(rw_i),
%     u_i = r_i sqrt(w_i) / (6 median |r_j| sqrt(w_j))): sqrt(sum_i w_i
%     (pv_i - (L pv)_i)^2 / dof), L the plain fits; NaN where that median
%     is 0.
%     'Span' 'aicc' or 'gcv' (within 'SpanRange') chooses the window as
%     for one predictor, from each candidate's residuals and the trace of
%     its L, before any robust pass; the candidates' windows are R's
%     floor(n F), at least the polynomial's terms + 1.
%     A k-d tree finds each window's points, so a fit reads the cells
%     near its query, not all n points; the fit itself takes the whole
%     window, O(n F) per query. The values are the same, to the bit, on
%     any number of threads and for any order of the queries; rows of
%     the data in another order give the same values to rounding.
%       [x1, x2] = meshgrid (linspace (0, 1, 30));
%       X = [x1(:), x2(:)];
%       y = sin (4 * X(:, 1)) .* cos (3 * X(:, 2)) + 0.1 * randn (900, 1);
%       ys = quibra (X, y, 0.1, false, 2);
%       % robust, with a 95% prediction band in info.lower and info.upper
%       [ys, info] = quibra (X, y, 0.1, true, 2, 'Intervals', 'prediction');
%
%   Cost
%     An O(n log n) sort of the data, then one local fit per element of X:
%     O(log n) to find its window, O(window * DEGREE) for the weighted
%     sums and O(DEGREE^3) to solve for the coefficients. Robust smoothing
%     adds up to 100 passes of n such fits. With 'Delta' only about
%     range/Delta points are fitted per pass (plus a sort of X), the rest
%     is interpolated in O(1) each; 'Delta' range(X)/100, R's lowess
%     default, makes about 100 fits per pass (see R's lowess above).
%     Memory is O(n + window + DEGREE^2), all released when the call
%     returns. The second result adds O(n) time and storage. With k
%     signals time and memory are O(k n); plain fits share all but their
%     right-hand sides (see Several signals).
%     A long call can be stopped with Ctrl-C: within a fraction of a
%     second, its threads having finished the points in hand, it ends
%     with the error "Interrupted." (see Errors above), which TRY/CATCH
%     can catch, and returns no result; the prompt, and the next call,
%     are as after any other error.
%
%   Large data: 'Method' 'fast'
%     Each direct fit sums over its whole window, so a call costs about n
%     times the window, n^2 F: a million points at the default span take
%     about a minute on two cores. On each side of its query the tricube
%     weight is a polynomial of degree 9 in the fit's coordinate, so every
%     sum a fit needs is a fixed combination of power moments of that
%     side's points. With 'Method' 'fast' the data are kept as the moments
%     of blocks of 16 points and of a binary tree over them, each in its
%     own centred and scaled coordinate; a window's sums come from a few of
%     them moved into the query's coordinate by the binomial theorem (no
%     large term cancels, as no block is wider than the window), and its
%     ragged ends point by point. A fit then costs about the same whatever
%     the window, and a call O(n log n): a million points in under a
%     second, ten million in seconds.
%     The fit itself (the solve, the rank test, the diagnostics) is the
%     same as 'direct', and so are the failed fits. The values differ by
%     rounding only; largest difference from 'direct', relative to
%     max|Y|, at n = 10^4 to 10^6, spans 0.001 to 1, offset data (epoch
%     seconds, date numbers), ties and prior weights:
%         DEGREE       0      1      2      3      4
%                    2e-12  1e-11  9e-11  1e-9   1e-9
%     and within 2e-10 relative for the bands' standard errors. The
%     largest, at F = 1, are the direct sums' own rounding over 10^6
%     terms: against a QR solve 'fast' is within 1.3e-12 there (at 10^7
%     points, 'direct' is up to 7e-9 off at F = 1). Each fit
%     also bounds what the moments' rounding can do to its value (and to
%     its variance factor): where the bound passes 1e-10 of max|Y| (1e-9
%     at degrees 3 and 4), as near clusters far narrower than the gaps
%     between them or two groups far apart, that fit is made again from
%     direct sums, with the direct value, diagnostics and failed fits.
%     Such data gain little from 'fast'. The direct sums stay exact to
%     rounding in every window, so 'direct' remains the default: 'fast'
%     is for large data at ordinary spans, a window of thousands of
%     points.
%     'fast' makes a fit's sums directly wherever that is as cheap or
%     needed: windows of fewer than 256 points, DEGREE above 4 (whose
%     normal equations would magnify the moments' rounding), queries
%     beyond their window's span (outside the data, or across a wide gap),
%     and the nearly weightless points at a window's ends when the others
%     cannot determine the polynomial. Every option works with it; results
%     are the same for every thread count, register width and order of X.
%     Memory: the tree adds about 26 bytes per point for local quadratics
%     (about 49 with bands).
%
%   Threads and vector registers
%     The local fits of a call (the evaluation at X, and each robustness
%     pass's refit at the data points) are shared among threads: as many
%     as the 'Threads' option says, else as the environment variable
%     QUIBRA_NUM_THREADS says when it holds a positive integer (at most
%     1024 are used), else one per hardware thread; 1 means none but the
%     calling thread. A call with fewer than about 200000
%     (evaluation point x window point) pairs per thread uses fewer
%     threads, down to the calling thread alone. Each thread fits 2, 4
%     or 8 points at once in a vector register (SSE2, AVX2 with FMA,
%     AVX-512): of those the processor has, the one the first call finds
%     fastest here (it times them once per process, in a few ms);
%     QUIBRA_LANES = 2, 4 or 8 sets it instead, within what the
%     processor has. For tests only, QUIBRA_MAX_LANES = 4 or 2, set
%     before the module is loaded, makes it run as a processor without
%     AVX-512 (or without AVX2 too) would.
%     The sort, the median and the reweighting run on the calling thread.
%     Results and diagnostic lines are the same, to the last bit and in
%     the same order, for every thread count and register width.
%     Example: setenv ('QUIBRA_NUM_THREADS', '1') before the call.
%
%   Example
%     x = linspace (0, 10, 200)';
%     y = sin (x) + 0.3 * randn (size (x));
%     y(50) = 8;                              % an outlier
%     plain  = quibra (x, y, 0.25);
%     robust = quibra (x, y, 0.25, 1);        % ignores the outlier
%     plot (x, y, '.', x, plain, x, robust);
%     [robust, info] = quibra (x, y, 0.25, 1);
%     outliers = find (info.weights == 0)     % 50 is one of them
%     xf = linspace (0, 10, 1000);            % evaluate on a finer grid
%     yf = quibra (xf, zeros (size (xf)), 0.25, 1, 2, x', y');
%
%   More examples with pictures: DEMO QUIBRA (in Octave), QUIBRA_DEMO.
%
%   See also QUIBRA_DEMO, INTERP1, POLYFIT, FILTER.

%   Copyright (c) 2026 the quibra developers. BSD-3-Clause license.

function ys = quibra (varargin)
  % Only reached when the compiled module is missing: the module beside
  % this file (here, or in the installed package) takes precedence, and
  % this file then only serves help and demos.
  error ('quibra: the compiled module was not found; build it with make_quibra');
end

%!demo
%! % Noisy samples of sin(x) with five gross outliers. The plain smooth is
%! % dragged toward every outlier; the robust one gives them weight 0.
%! rand ('seed', 1); randn ('seed', 1);
%! x = sort (10 * rand (100, 1));
%! y = sin (x) + 0.2 * randn (size (x));
%! out = [12 37 39 62 86];
%! y(out) = y(out) + [4 -4 -3.5 -4.5 4]';
%! plain = quibra (x, y, 0.2);
%! robust = quibra (x, y, 0.2, 1);
%! plot (x, y, '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (x(out), y(out), 'ro');
%! plot (x, plain, '--', 'color', [0.85 0.4 0], 'linewidth', 2);
%! plot (x, robust, '-', 'color', [0 0.35 0.75], 'linewidth', 2);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-6 9]);               % room for the legend
%! legend ('data', 'outliers', 'plain', 'robust', 'location', 'north', ...
%!         'orientation', 'horizontal');
%! title ('Plain and robust smoothing (span 0.2)');

%!demo
%! % The span f sets how many points each local fit uses: a small span
%! % follows the noise, a large one flattens the peaks.
%! rand ('seed', 2); randn ('seed', 2);
%! x = sort (10 * rand (150, 1));
%! y = sin (x) + 0.2 * randn (size (x));
%! plot (x, y, '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (x, [quibra(x, y, 0.05), quibra(x, y, 0.2), quibra(x, y, 0.6)], ...
%!       'linewidth', 1.5);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-1.6 2.6]);           % room for the legend
%! legend ('data', 'f = 0.05', 'f = 0.2', 'f = 0.6', 'location', 'north', ...
%!         'orientation', 'horizontal');
%! title ('The span f (degree 2)');

%!demo
%! % The degree of the local polynomials: local constants (0) and lines (1)
%! % cut the peaks, and constants also flatten out at the ends; local
%! % quadratics (2) follow the peaks.
%! rand ('seed', 3); randn ('seed', 3);
%! x = sort (10 * rand (150, 1));
%! y = sin (x) + 0.2 * randn (size (x));
%! plot (x, y, '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (x, [quibra(x, y, 0.3, 0, 0), quibra(x, y, 0.3, 0, 1), ...
%!           quibra(x, y, 0.3, 0, 2)], 'linewidth', 1.5);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-1.6 2.6]);           % room for the legend
%! legend ('data', 'degree 0', 'degree 1', 'degree 2', 'location', 'north', ...
%!         'orientation', 'horizontal');
%! title ('The degree (span 0.3)');

%!demo
%! % The nodes form smooths the data (the nodes) and evaluates the smooth
%! % at other abscissae, here a fine grid. Y must pair with X but is not
%! % used, so zeros will do.
%! rand ('seed', 4); randn ('seed', 4);
%! nx = sort (10 * rand (25, 1));
%! ny = sin (nx) + 0.15 * randn (size (nx));
%! xf = linspace (0, 10, 500)';
%! yf = quibra (xf, zeros (size (xf)), 0.5, 0, 2, nx, ny);
%! plot (nx, ny, 'ko');
%! hold on;
%! plot (nx, quibra (nx, ny, 0.5), 'x--', 'color', [0.85 0.4 0]);
%! plot (xf, yf, '-', 'color', [0 0.35 0.75], 'linewidth', 2);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-1.6 2.6]);           % room for the legend
%! legend ('nodes', 'at the nodes', 'on a fine grid', ...
%!         'location', 'north', 'orientation', 'horizontal');
%! title ('Evaluating on a fine grid (nodes form)');

%!demo
%! % A failed fit. Eight of 60 readings share the abscissa x = 4. With
%! % f = 0.1 a window holds 6 points, so there it holds only points at
%! % x = 4: one abscissa cannot fix a quadratic, and those fits fail.
%! % Each failed element is realmax, and each failure writes
%! % "Error: Singular matrix inversion attempted." on standard error.
%! rand ('seed', 7); randn ('seed', 7);
%! x = sort (10 * rand (60, 1));
%! x(25:32) = 4;
%! x = sort (x);
%! y = cos (x) + 0.2 * randn (size (x));
%! fprintf (['The next call writes "Error: Singular matrix inversion attempted."\n' ...
%!           'on standard error once per failed fit; the call still succeeds.\n']);
%! fflush (stdout);                      % so this line comes before those
%! ys = quibra (x, y, 0.1);
%! failed = (ys == realmax);             % how to spot them
%! fprintf ('%d of %d fits failed\n', nnz (failed), numel (ys));
%! ys(failed) = NaN;                     % gaps instead of 1.8e308
%! wider = quibra (x, y, 0.2);           % 12 points per window: no failure
%! lowered = quibra (x, y, 0.1, 0, 2, 'Fallback', 'lower');  % lines there, no failure
%! plot (x, y, '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (x(failed), y(failed), 'rx', 'markersize', 10);
%! plot (x, ys, '-', 'color', [0.85 0.4 0], 'linewidth', 2);
%! plot (x, wider, '-', 'color', [0 0.35 0.75], 'linewidth', 1.5);
%! plot (x, lowered, '--', 'color', [0.2 0.6 0.2], 'linewidth', 1.5);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-1.6 3.4]);           % room for the legend
%! legend ('data', 'failed (realmax)', 'f = 0.1', 'f = 0.2', 'f = 0.1, lower', ...
%!         'location', 'north', 'orientation', 'horizontal');
%! title ('Failed fits and how to spot them');

%!demo
%! % Large data at interactive speed. With 'Delta' only points spaced about
%! % Delta apart are fitted, and the rest lie on straight lines between
%! % those fits: with Delta = range/100 about 100 fits instead of 20000.
%! rand ('seed', 5); randn ('seed', 5);
%! n = 20000;
%! x = 10 * rand (n, 1);
%! y = sin (x) + 0.5 * randn (n, 1);
%! tic; exact = quibra (x, y, 0.3, 0, 1); t_exact = toc;
%! delta = (max (x) - min (x)) / 100;
%! tic; fast = quibra (x, y, 0.3, 0, 1, 'Delta', delta); t_fast = toc;
%! fprintf ('every point fitted: %.3f s; Delta = range/100: %.3f s\n', ...
%!          t_exact, t_fast);
%! fprintf ('largest difference: %.2g (noise sd 0.5)\n', max (abs (fast - exact)));
%! [~, k] = sort (x);
%! s = k(1:20:end);             % every 20th point, in order: plenty for a curve
%! plot (x(s), y(s), '.', 'color', [0.7 0.7 0.7]);
%! hold on;
%! % The two smooths nearly coincide: a wide pale band under a narrow line.
%! plot (x(s), exact(s), '-', 'color', [1 0.72 0.4], 'linewidth', 8);
%! plot (x(s), fast(s), '-', 'color', [0 0.35 0.75], 'linewidth', 2.5);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-2.5 5]);             % room for the legend
%! legend ('data (every 20th)', 'exact', 'Delta = range/100', ...
%!         'location', 'north', 'orientation', 'horizontal');
%! title (sprintf ('%d points, local lines, span 0.3', n));

%!demo
%! % Which points did the robust smooth leave out? The second result says:
%! % INFO.weights holds every point's robustness weight, in the data's
%! % order, and 0 marks the outliers.
%! rand ('seed', 8); randn ('seed', 8);
%! x = sort (10 * rand (120, 1));
%! y = sin (x) + 0.2 * randn (size (x));
%! k = [9 30 31 55 77 98 110];
%! y(k) = y(k) + [3 -2.5 -3 2.5 3.5 -3 2]';
%! [ys, info] = quibra (x, y, 0.25, 1);
%! out = (info.weights == 0);
%! fprintf ('%s after %d passes; %d points at weight 0\n', ...
%!          info.outcome, info.passes, nnz (out));
%! plot (x, y, '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (x(out), y(out), 'ro', 'markersize', 8);
%! plot (x, ys, '-', 'color', [0 0.35 0.75], 'linewidth', 2);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-4 7]);               % room for the legend
%! legend ('data', 'weight 0', 'robust', 'location', 'north', ...
%!         'orientation', 'horizontal');
%! title ('Outliers flagged by the robust smooth');

%!demo
%! % How sure is the smooth? With 'Intervals' the second result holds the
%! % standard errors and a band: for the smooth's value ('confidence') or
%! % for a new observation ('prediction'), here both at 95%.
%! rand ('seed', 8); randn ('seed', 8);
%! x = sort (10 * rand (150, 1));
%! y = sin (x) + 0.3 * randn (size (x));
%! [ys, c] = quibra (x, y, 0.3, 0, 2, 'Intervals', 'confidence');
%! [~, p] = quibra (x, y, 0.3, 0, 2, 'Intervals', 'prediction');
%! fprintf ('sigma %.3f (true 0.3), enp %.1f, dof %.1f\n', c.sigma, c.enp, c.dof);
%! plot (x, y, '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (x, [p.lower p.upper], ':', 'color', [0.85 0.4 0], 'linewidth', 1.5);
%! plot (x, [c.lower c.upper], '--', 'color', [0 0.35 0.75], 'linewidth', 1.5);
%! plot (x, ys, '-', 'color', [0 0.35 0.75], 'linewidth', 2);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-2 2.8]);             % room for the legend
%! h = get (gca, 'children');
%! legend (h([6 5 3 1]), 'data', 'prediction band', 'confidence band', 'smooth', ...
%!         'location', 'north', 'orientation', 'horizontal');
%! title ('95% bands (span 0.3, local quadratics)');

%!demo
%! % Which span? 'Span', 'aicc' tries spans from (degree+2)/n to 1 and
%! % keeps the one of least AICc; info.criterion holds every span tried.
%! rand ('seed', 9); randn ('seed', 9);
%! x = sort (10 * rand (200, 1));
%! y = sin (x) + 0.3 * randn (size (x));
%! [ys, info] = quibra (x, y, 'Span', 'aicc');
%! c = info.criterion;
%! ok = isfinite (c(:,2));
%! fprintf ('chosen span %.3f (window %d points) after %d candidates\n', ...
%!          info.span, info.window, rows (c));
%! semilogx (c(ok,1), c(ok,2), 'o-', 'color', [0 0.35 0.75], 'linewidth', 1.5);
%! hold on;
%! semilogx (info.span, min (c(:,2)), 'rx', 'markersize', 14, 'linewidth', 2);
%! hold off;
%! xlabel ('span'); ylabel ('AICc');
%! legend ('spans tried', 'chosen', 'location', 'north');
%! title ('The criterion over the spans tried');

%!demo
%! % Several signals at once: three channels sampled at the same times, one
%! % column each of Y, smoothed in one call. The result has a column per
%! % channel, and so have INFO's per-point fields; its per-call fields
%! % hold one entry per channel. Channel 2 has three spikes, which the
%! % robust passes leave out of that channel only.
%! rand ('seed', 10); randn ('seed', 10);
%! t = sort (10 * rand (200, 1));
%! y = [2.5 + sin(t), 0.6 * cos(1.3 * t), -3 + 0.15 * (t - 5)];
%! y = y + 0.25 * randn (size (y));
%! spikes = [40 110 170];
%! y(spikes,2) = y(spikes,2) + [1.5 -1.8 1.6]';
%! [ys, info] = quibra (t, y, 0.25, true);   % ys is 200-by-3
%! for c = 1:columns (y)
%!   fprintf ('channel %d: %s after %d passes, %d points at weight 0\n', ...
%!            c, info.outcome{c}, info.passes(c), nnz (info.weights(:,c) == 0));
%! end
%! colors = [0 0.35 0.75; 0.85 0.4 0; 0.2 0.6 0.2];
%! dots = plot (t, y, '.');     % a line per column, as for ys below
%! set (dots, {'color'}, num2cell (0.45 * colors + 0.55, 2));  % paler
%! hold on;
%! lines = plot (t, ys, '-', 'linewidth', 2);
%! set (lines, {'color'}, num2cell (colors, 2));
%! out = (info.weights == 0);   % a column per channel, like y
%! [r, ~] = find (out);         % the rows of y(out), in its order
%! marks = plot (t(r), y(out), 'ro', 'markersize', 8);
%! hold off;
%! xlabel ('t'); ylabel ('signal');
%! ylim ([-4.5 6.5]);           % room for the legend
%! legend (lines, 'channel 1', 'channel 2', 'channel 3', ...
%!         'location', 'north', 'orientation', 'horizontal');
%! title ('Three signals in one robust call (circled: weight 0)');

%!demo
%! % A million points: 'Method', 'fast' makes each fit's sums from power
%! % moments of blocks of points, at a cost that does not grow with the
%! % window, and agrees with the direct sums to rounding. The direct sums
%! % at 200 abscissae show it (all million would take minutes).
%! rand ('seed', 11); randn ('seed', 11);
%! n = 1e6;
%! x = 10 * rand (n, 1);
%! y = sin (x) + 0.5 * sin (4 * x) + 0.6 * randn (n, 1);
%! tic;
%! ys = quibra (x, y, 0.02, 0, 2, 'Method', 'fast');   % windows of 20000 points
%! t = toc;
%! q = linspace (0, 10, 200)';
%! yd = quibra (q, [], 0.02, 0, 2, x, y);
%! yf = quibra (q, [], 0.02, 0, 2, x, y, 'Method', 'fast');
%! fprintf ('%d points smoothed in %.2f s; at 200 abscissae fast - direct is at most %.1e\n', ...
%!          n, t, max (abs (yf - yd)));
%! [xs, s] = sort (x);
%! k = 1:250:n;                 % every 250th point of the data
%! plot (x(k), y(k), '.', 'color', [0.6 0.6 0.6]);
%! hold on;
%! plot (xs, ys(s), '-', 'color', [0 0.35 0.75], 'linewidth', 2.5);
%! plot (q, yd, 'o', 'color', [0.85 0.4 0], 'markersize', 4);
%! hold off;
%! xlabel ('x'); ylabel ('y');
%! ylim ([-3.5 4]);             % room for the legend
%! legend ('data (every 250th)', 'fast', 'direct at 200 points', ...
%!         'location', 'north', 'orientation', 'horizontal');
%! title (sprintf ('%d points, span 0.02, local quadratics', n));

%!demo
%! % Rate of change: from noisy positions sampled at irregular times, the
%! % velocity. 'Derivative', 1 gives the first derivative of each local
%! % polynomial, and 'Intervals' its 95% band, for the local fit's
%! % expected slope; the true velocity is the thin black line.
%! rand ('seed', 12); randn ('seed', 12);
%! t = sort (20 * rand (400, 1));
%! pos = 2 * sin (t / 2) + 0.1 * t + 0.3 * randn (size (t));
%! smooth = quibra (t, pos, 0.15, 0, 2);
%! [v, info] = quibra (t, pos, 0.15, 0, 2, 'Derivative', 1, 'Intervals', 'confidence');
%! subplot (2, 1, 1);
%! plot (t, pos, '.', 'color', [0.6 0.6 0.6], t, smooth, '-', 'color', [0 0.35 0.75], ...
%!       'linewidth', 2);
%! ylabel ('position');
%! subplot (2, 1, 2);
%! plot (t, cos (t / 2) + 0.1, '-', 'color', [0 0 0], 'linewidth', 1);
%! hold on;
%! plot (t, [info.lower info.upper], '--', 'color', [0.85 0.4 0], 'linewidth', 1);
%! plot (t, v, '-', 'color', [0.85 0.4 0], 'linewidth', 2);
%! hold off;
%! xlabel ('time'); ylabel ('velocity');
%! ylim ([-1.5 3]);             % room for the legend
%! h = get (gca, 'children');   % the last drawn first
%! legend (h([1 2 4]), 'derivative', '95% band', 'true', 'location', 'north', ...
%!         'orientation', 'horizontal');

%!demo
%! % A surface: 600 noisy measurements scattered over a plane, smoothed
%! % over both predictors (X a matrix, a column each) and evaluated on a
%! % grid (the nodes form); the dots are the data, the mesh the smooth.
%! rand ('seed', 13); randn ('seed', 13);
%! X = [4 * rand(600, 1), 200 * rand(600, 1)];   % unequal scales
%! truth = @(a, b) sin (a) .* cos (b / 60);
%! y = truth (X(:, 1), X(:, 2)) + 0.25 * randn (600, 1);
%! [g1, g2] = meshgrid (linspace (0, 4, 30), linspace (0, 200, 30));
%! s = quibra ([g1(:), g2(:)], [], 0.1, false, 2, X, y);
%! mesh (g1, g2, reshape (s, size (g1)));
%! hold on;
%! plot3 (X(:, 1), X(:, 2), y, '.', 'color', [0.6 0.6 0.6], 'markersize', 4);
%! hold off;
%! xlabel ('x_1'); ylabel ('x_2'); zlabel ('y');
%! title ('the smooth of y over [x_1 x_2], span 0.1, degree 2');
