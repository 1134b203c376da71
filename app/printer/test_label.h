// The printer's test label: its name, resolution, darkness, speed, media type
// and label mode in text, a dot ruler in millimetres along the top and left
// edges, and a Code 128 barcode of its name, drawn at the loaded label size.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>

/// Draws `printer`'s test label as an 8-bit gray page at its default (loaded)
/// media and head resolution, and writes it through the label core with the
/// printer's settings, as a label command stream (the printer's own format)
/// in PAPPL's temporary folder, which PAPPL removes once a job has printed
/// it; puts the file's name in `path`. False when it cannot be written.
bool write_test_label(pappl_printer_t* printer, char* path, size_t size);
