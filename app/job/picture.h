// PNG and JPEG documents printed by lblprinter's own decoders rather than
// PAPPL's image filters, which can hang on a damaged picture.
#pragma once

#include <pappl/pappl.h>

/// Registers the picture formats' filters to the printers' own format, which
/// PAPPL tries before its own filters. Called before the system runs.
void add_picture_filters(pappl_system_t* system);
