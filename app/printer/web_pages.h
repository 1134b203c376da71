// A printer's web pages beside PAPPL's: Label Mode (PAPPL 1.3's printer pages
// have no field for label-mode-configured), Media, Calibrate, and a guard in
// front of PAPPL's printer page, whose buttons ask no one.
#pragma once

#include <pappl/pappl.h>

/// PAPPL's printer creation callback's share: adds the printer's pages and
/// their links, and serves PAPPL's page of the printer (its state, jobs and
/// buttons) behind a check: its buttons need an administrator, as their IPP
/// operations do, except Identify, which is every client's. Saving a page's
/// form needs an administrator.
void add_printer_web_pages(pappl_printer_t* printer);

/// A web page of a printer's own, added beside PAPPL's: /<printer>/<name>,
/// served by `page` with the printer as its data, and its link `label` on
/// the printer's pages.
void add_printer_web_page(pappl_printer_t* printer, const char* name, const char* label,
                          pappl_resource_cb_t page);
