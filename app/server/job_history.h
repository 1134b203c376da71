// Each printer's completed-job history, bounded the way CUPS bounds its own.
#pragma once

#include <pappl/pappl.h>

/// Keeps each printer of `system` to its `max_completed_jobs` newest completed
/// jobs (a few more while several end in the same second).
void bound_job_histories(pappl_system_t* system, int max_completed_jobs);
