// One lblprinter instance: the folder of its state file and control socket,
// how its sub-commands find the program and the server, who may use the
// control socket, and the one server that may use the folder. PAPPL lets every
// client of that socket do anything, so only the server's own user (root, for
// the service) may reach it.
#pragma once

#include <string>

#include "app/server/access.h"

/// Where an instance keeps its state file and control socket; null for
/// PAPPL's defaults. Passed to the system and auto-add callbacks through
/// papplMainloop.
struct app_instance {
  const char* state_directory;
  bool serving;                      // "server": only the server listens on the network
  std::string control_socket;        // made its owner's only once the server listens
  admin_policy admins;               // filled from the server's options
  int lock = -1;                     // the server's lock on the state directory
  int max_completed_jobs = 0;        // each printer's job history, from the server's options
  pappl_system_t* system = nullptr;  // the server's, once made
};

/// The program as the sub-commands start a private server: argv[0], or the
/// file PATH finds for a bare name (PAPPL starts the server without a PATH
/// search). Empty when it cannot be found.
std::string program_path(const char* argv0);

/// The control socket PAPPL 1.3.1 listens on and its sub-commands connect to:
/// root's <name>.sock in $SNAP_COMMON (the state directory, which lblprinter
/// sets) or /run; any other user's <name><uid>.sock in PAPPL's temporary
/// folder ($TMPDIR, else /tmp), which lblprinter points at the state
/// directory when there is one. `name` is the program's file name.
std::string control_socket_path(const char* name);

/// True when a server accepts connections on the socket at `path`.
bool server_listens(const std::string& path);

/// Holds the lock file of the state directory `path` for the calling server,
/// one server per folder; returns its descriptor, to be kept open while the
/// server runs, or -1 with the reason, naming the running server, in `problem`.
int lock_state_directory(const char* path, const char* name, std::string* problem);

/// Creates a missing state directory (and its parents), the last one 0700
/// so that only its owner reaches the control socket; false with the reason
/// in `problem` when it cannot.
bool make_state_directory(const char* path, std::string* problem);

/// The refusal a sub-command prints when its instance's folder, `state_directory`
/// (null for none), belongs to another user, whose server its user may not
/// reach; empty when it may.
std::string socket_refusal(const char* state_directory);

/// Makes the socket at `path` its owner's only (0600); false while it does
/// not exist yet.
bool restrict_socket(const std::string& path);
