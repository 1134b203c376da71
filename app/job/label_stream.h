// Documents that are already label command streams (made by lblfilter or
// another system's queue) go to the printer as they are, once checked.
#pragma once

#include <pappl/pappl.h>

/// Makes the label stream the printer's own format, printed by the
/// pass-through callback.
void set_label_stream_callback(pappl_pr_driver_data_t* data);
