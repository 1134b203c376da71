// Who may do what: printing is open to every client the server listens to,
// as on a shared CUPS queue; changing printers or the system needs an
// administrator, whom PAM authenticates.
#pragma once

#include <pappl/pappl.h>

#include <string>

/// The administrators: users that PAM service `service` authenticates and,
/// when `group` is not empty, members of that group.
struct admin_policy {
  std::string service;
  std::string group;
};

/// Makes PAPPL ask `policy` (which must outlive the system) about every
/// request it authorizes: job submission, validation and cancelling pass;
/// so does looking at the web pages other than the log; anything else
/// (adding, deleting or modifying printers, the system's settings, the web
/// interface's forms) needs HTTP Basic credentials of an administrator. Clients on the local
/// control socket are root's tools and PAPPL lets them through before asking.
void set_admin_policy(pappl_system_t* system, const admin_policy* policy);
