// One lblprinter instance: the folder of its state file and control socket,
// how its sub-commands find the program and the server, and who may use the
// control socket. PAPPL lets every client of that socket do anything, so
// only the server's own user (root, for the service) may reach it.
#pragma once

#include <string>

#include "app/access.h"

/// Where an instance keeps its state file and control socket; null for
/// PAPPL's defaults. Passed to the system and auto-add callbacks through
/// papplMainloop.
struct app_instance {
  const char* state_directory;
  bool serving;                // "server": only the server listens on the network
  std::string control_socket;  // made its owner's only once the server listens
  admin_policy admins;         // filled from the server's options
};

/// The program as the sub-commands start a private server: argv[0], or the
/// file PATH finds for a bare name (PAPPL starts the server without a PATH
/// search). Empty when it cannot be found.
std::string program_path(const char* argv0);

/// The control socket PAPPL listens on: <state directory>/<name>.sock, else
/// /run/<name>.sock for root and $TMPDIR/<name><uid>.sock (/tmp by default)
/// for other users. `name` is the program's file name.
std::string control_socket_path(const char* state_directory, const char* name);

/// Creates a missing state directory (and its parents), the last one 0700
/// so that only its owner reaches the control socket; false with the reason
/// in `problem` when it cannot.
bool make_state_directory(const char* path, std::string* problem);

/// The refusal a sub-command prints when its user may not connect to the
/// socket at `path`, or empty when it may (or no server listens there yet).
std::string socket_refusal(const std::string& path);

/// Makes the socket at `path` its owner's only (0600); false while it does
/// not exist yet.
bool restrict_socket(const std::string& path);
