// PAPPL's print callbacks for the label printers: each raster page's gray
// lines go through the label core, and its label command sequence to the
// device; a job that is already a label command stream goes to it unchanged.
#pragma once

#include <pappl/pappl.h>

/// The printer's own format: a label command stream, as lblfilter writes it.
inline constexpr char kLabelStreamFormat[] = "application/vnd.lblfilter-label";

/// Points the driver's print callbacks at the label core, and sets the
/// printer's format with its pass-through callback.
void set_raster_callbacks(pappl_pr_driver_data_t* data);
