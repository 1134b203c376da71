// One job at a time on each printer's link, each job once: PAPPL 1.3.1 may
// start the same job twice, or a second job while one prints, and two
// writers on one device crash the server or mix two labels. Jobs pass this
// gate one printer at a time, and so does the idle status poll that lends
// itself PAPPL's device.
#pragma once

#include <pappl/pappl.h>

/// The printer-state-reasons of a printer that reports it cannot print
/// (app/printer/status.h): a raster job goes on to wait for the printer itself.
inline constexpr pappl_preason_t kPrinterConditions =
    PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_MEDIA_EMPTY |
    PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OTHER;

/// Takes `printer`'s gate unless a job or a poll holds it; true when taken.
[[nodiscard]] bool try_enter_printer(pappl_printer_t* printer);

/// Waits until `job`'s printer is free and no administrator's pause holds it,
/// and takes its gate for a raster printed as it arrives; false, without the
/// gate, once the server is stopping.
[[nodiscard]] bool enter_printer_for_stream(pappl_job_t* job);

/// Gives back the gate try_enter_printer or enter_printer_for_stream took.
void leave_printer(pappl_printer_t* printer);

/// Hands a spooled job to PAPPL through `submit` (its _papplJobSubmitFile) so
/// that the thread PAPPL starts for the job sees the file name and state it
/// wrote: PAPPL 1.3.1 writes them without a lock, and another client's thread
/// may start the job.
void submit_spooled_job(void (*submit)(pappl_job_t*, const char*), pappl_job_t* job,
                        const char* filename);

/// The definition of `name` that lblprinter's own stands in for (libpappl's,
/// or libc's for the clock): the next one after the program's.
[[nodiscard]] void* next_definition(const char* name);

/// Starts no more jobs: the server is stopping, and what is queued stays for
/// its next start.
void close_printers();

/// Whether a job (or a status poll) holds any printer's gate: takes no
/// lock of PAPPL's.
[[nodiscard]] bool any_printer_busy();
