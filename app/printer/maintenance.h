// Looking after a printer: Identify-Printer sounds its buzzer, the test label,
// and calibrating the media sensor for the loaded stock, and lblprinter's own
// IPP operations that carry them.
#pragma once

#include <pappl/pappl.h>

/// lblprinter's own IPP operations on a printer URI. These two are for
/// administrators only (root on the control socket, or HTTP Basic
/// credentials of one).
inline constexpr ipp_op_t kCalibrateMediaOperation = static_cast<ipp_op_t>(0x4c01);
inline constexpr ipp_op_t kPrintTestLabelOperation = static_cast<ipp_op_t>(0x4c02);
/// Open to every client: answers the printer's printer-id, which PAPPL 1.3.1's
/// attribute of that name gives as 0 for a printer made by Create-Printer
/// (until a restart), so that its Delete-Printer finds it.
inline constexpr ipp_op_t kGetPrinterIdOperation = static_cast<ipp_op_t>(0x4c03);

/// Identify-Printer (identify-actions "sound": the printers have no display
/// to show a message on) and the test page, for every printer of the driver.
void set_maintenance_callbacks(pappl_pr_driver_data_t* data);

/// The loaded stock, as every job's GAP or BLINE line names it (a change of
/// the loaded media on the Media page becomes the default): its kMediaTypes
/// index.
int16_t loaded_media_type(pappl_printer_t* printer);

/// Calibrates the media sensor for the loaded stock on an idle printer; the
/// problem, or null.
const char* calibrate(pappl_printer_t* printer);

/// Answers kCalibrateMediaOperation, kPrintTestLabelOperation and
/// kGetPrinterIdOperation.
void add_maintenance_operations(pappl_system_t* system);
