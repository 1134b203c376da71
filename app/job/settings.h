// IPP to label settings: maps a PAPPL job's options and the printer's
// configuration onto the filter's settings record, so both front ends print
// the same job with the same commands.
#pragma once

#include <pappl/pappl.h>

#include "settings/settings.h"

/// The vendor attribute that carries the filter's PrintDirection choice.
inline constexpr char kPrintDirectionAttr[] = "print-direction";

/// The record for one job: label size from the media, SPEED from print-speed,
/// DENSITY from printer-darkness-configured plus print-darkness, media type
/// from media-tracking, BITMAP position from the media offsets, label mode from
/// label-mode-configured, dither from print-content-optimize and print-quality,
/// direction from the job's print-direction, else `direction_default` (the
/// printer's print-direction-default, which PAPPL 1.3 leaves out of the
/// job's options). `user` and `title` are left null.
pstops_doc settings_for_job(const pappl_pr_options_t& options, const pappl_pr_driver_data_t& driver,
                            const char* direction_default);

/// The record for `job` on its printer: settings_for_job with the printer's
/// driver data and print-direction-default, and the job's id, user and title.
pstops_doc settings_for_printer_job(pappl_job_t* job, const pappl_pr_options_t& options);

/// The label_mode for PAPPL's label mode: tear off unless peel off or a cutter.
int16_t label_mode_for(pappl_label_mode_t mode);

/// The media_type for IPP's media-tracking: gap unless mark or continuous.
int16_t media_type_for(pappl_media_tracking_t tracking);

/// DENSITY (0-15) for IPP's configured darkness (0-100) plus a job's
/// adjustment (-100 to 100), the sum held to 0-100.
int density_for(int configured, int adjustment);

/// The configured darkness (0-100) that gives DENSITY `density`.
int darkness_percent(int density);

/// The IPP keyword of a print_direction choice ("normal", "reverse").
const char* print_direction_keyword(int direction);

/// The dither_method for print-content-optimize and print-quality: text and
/// text-and-graphic keep the threshold, graphic takes an ordered or
/// clustered dither by quality, photo error diffusion. auto (the default)
/// screens automatically, or, since a CUPS 2.4 driverless queue forwards
/// print-quality and not print-content-optimize, as barcodes (the
/// threshold) for draft and as photos (error diffusion) for high.
dither_method dither_for(pappl_content_t content, ipp_quality_t quality);
