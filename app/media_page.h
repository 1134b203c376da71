// The Media page lblprinter serves for each printer in place of PAPPL 1.3's,
// which saved nothing of a custom size below the minimum yet said it had.
#pragma once

#include <pappl/pappl.h>

/// Adds /<printer>/media, the printer's loaded label: size, offsets and
/// media tracking. Must be called before PAPPL adds its own page of that
/// path (the printer creation callback); saving needs an administrator.
void add_media_page(pappl_printer_t* printer);
