// The evaluation stage: the smooth at the queries, page after page (one
// per derivative order), for one column or for several that share their
// fits; with a band, also each query's variance factor and, when the
// queries are the data and the fits can give it, the smooth at the data
// points that the band's summary is made of.
#ifndef QUIBRA_SMOOTHER_STAGES_EVALUATE_H
#define QUIBRA_SMOOTHER_STAGES_EVALUATE_H

#include "smoother/call.h"
#include "smoother/stages/band.h"
#include "smoother/stages/prepare.h"

// Every page's values (and flags) into `o`, a column's outputs each. With
// `band` (null: none), each page's variance factors go to its se in o[0]
// for finish_band, and band->made tells whether the fits at the data were
// made here.
void evaluate_pages(const smooth_request& r, const prepared_data& p, fit_settings* settings,
                    smooth_outputs* o, data_fits* band);

#endif
