// PAPPL's raster callbacks for the label printers: each raster page's gray
// lines go through the label core, and its label command sequence to the
// device.
#pragma once

#include <pappl/pappl.h>

/// Points the driver's raster callbacks at the label core.
void set_raster_callbacks(pappl_pr_driver_data_t* data);
