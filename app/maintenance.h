// Looking after a printer: Identify-Printer sounds its buzzer, the test label,
// and calibrating the media sensor for the loaded stock, from the web page,
// over IPP and from the command line.
#pragma once

#include <pappl/pappl.h>

#include <string>

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

/// Adds the printer's "Calibrate" page and its link; calibrating there needs
/// an administrator.
void add_calibrate_page(pappl_printer_t* printer);

/// Answers kCalibrateMediaOperation, kPrintTestLabelOperation and
/// kGetPrinterIdOperation.
void add_maintenance_operations(pappl_system_t* system);

/// "lblprinter calibrate -d PRINTER", "lblprinter test-label -d PRINTER" and
/// "lblprinter delete -d PRINTER" (asking the printer's id first): sends the
/// operation to the server on its control socket, `socket`, and
/// returns the exit status; -1 when `argv` names neither sub-command.
int run_maintenance_command(int argc, char* argv[], const std::string& socket);
