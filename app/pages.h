// A web page of a printer's own, added beside PAPPL's: /<printer>/<name>,
// served by `page` with the printer as its data, and its link on the
// printer's pages.
#pragma once

#include <pappl/pappl.h>

inline void add_printer_web_page(pappl_printer_t* printer, const char* name, const char* label,
                                 pappl_resource_cb_t page) {
  char path[256];
  papplPrinterGetPath(printer, name, path, sizeof path);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", page, printer);
  papplPrinterAddLink(printer, label, path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}
