// The web interface's label mode page: PAPPL 1.3's printer pages have no
// field for label-mode-configured (tear-off, peel-off, cutter).
#pragma once

#include <pappl/pappl.h>

/// PAPPL's printer creation callback: adds the printer's "Label Mode" page
/// and its link. Saving the page's form needs an administrator.
void add_label_mode_page(pappl_printer_t* printer, void* data);
