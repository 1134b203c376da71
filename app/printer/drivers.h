// The Printer Application's printer models: the 203 and 300 dpi label printers
// of the project's PPDs, described to PAPPL as driver data (IPP attributes).
#pragma once

#include <pappl/pappl.h>

#include <span>

/// The models, as PAPPL lists them ("lblprinter drivers"): generic-203dpi and
/// generic-300dpi.
std::span<pappl_pr_driver_t> label_drivers();

/// PAPPL's driver callback: fills `data` and `attrs` for the model `name`.
bool label_driver_cb(pappl_system_t* system, const char* name, const char* device_uri,
                     const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                     void* context);
