// The evaluation stage: the smooth at the queries, page after page (one
// per derivative order), for one column or for several that share their
// fits; with a band, also each query's variance factor and the smooth at
// the model's points that the band's summary is made of: from the fits at
// the queries when they are the data and can give it, else made apart and
// silently (their trouble is not that of the call's result).
#ifndef QUIBRA_SMOOTHER_STAGES_EVALUATE_H
#define QUIBRA_SMOOTHER_STAGES_EVALUATE_H

#include "smoother/call.h"
#include "smoother/stages/band.h"
#include "smoother/stages/prepare.h"

// Every page's values (and flags) into `o`, a column's outputs each. With
// `band` (null: none), each page's variance factors go to its se in o[0]
// for finish_band, and the fits at the data fill band's arrays.
void evaluate_pages(const smooth_request& r, const prepared_data& p, fit_settings* settings,
                    smooth_outputs* o, data_fits* band);

#endif
