// `lblprinter submit` reports how its jobs ended: PAPPL's sub-command prints
// a job's id as soon as the server takes it, so a job that then aborts (a
// damaged picture, a page beyond the printer) would leave its user no reason.
#pragma once

#include <functional>
#include <string>

/// Runs PAPPL's submit sub-command (`run`), passes on the job ids it prints
/// ("label-3"), then waits, up to a minute, for each job to end over the
/// control socket `socket` (not for one that waits, unstarted, on a stopped
/// printer): an aborted job's job-state-message goes to standard error
/// ("lblprinter: label-3: PNG data ends early at byte 700") and the status
/// is 1.
int submit_and_report(const std::string& socket, const std::function<int()>& run);
