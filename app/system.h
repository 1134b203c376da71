// The Printer Application's system: the server's options (port, addresses,
// spool, log, authentication) and the PAPPL system object made from them.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "app/access.h"

/// Where an instance keeps its state file and control socket; null for
/// PAPPL's defaults. Passed to the system callback through papplMainloop.
struct app_instance {
  const char* state_directory;
  bool serving;                      // "server": only the server listens on the network
  std::string control_socket;        // made its owner's only once the server listens
  admin_policy admins;               // filled from the server's options
  int max_completed_jobs = 0;        // each printer's job history, from the server's options
  pappl_system_t* system = nullptr;  // the server's, once made
};

/// PAPPL's system callback for "lblprinter server": reads the -o options
/// server-port, listen-hostname, spool-directory, log-file, log-level,
/// auth-service (a PAM service, "none" for no password), admin-group and
/// max-completed-jobs (each printer's job history, 100 by default);
/// `data` is the app_instance.
pappl_system_t* make_label_system(int num_options, cups_option_t* options, void* data);
