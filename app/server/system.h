// The Printer Application's system: the server's options (port, addresses,
// spool, log, authentication) and the PAPPL system object made from them.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "app/server/instance.h"

/// PAPPL's system callback for "lblprinter server": reads the -o options
/// server-port, listen-hostname, spool-directory, log-file, log-level,
/// auth-service (a PAM service, "none" for no password), admin-group and
/// max-completed-jobs (each printer's job history, 100 by default);
/// `data` is the app_instance.
pappl_system_t* make_label_system(int num_options, cups_option_t* options, void* data);
