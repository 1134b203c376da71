// PDF documents printed by lblprinter itself (poppler, app/documents.h), so
// that every client's PDF prints on the label: CUPS's driverless queues send
// PDF, text included once CUPS has made it one.
#pragma once

#include <pappl/pappl.h>

/// Registers the PDF filter to the printers' own format. Called before the
/// system runs.
void add_pdf_filter(pappl_system_t* system);
