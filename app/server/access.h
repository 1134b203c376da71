// Who may do what: printing is open to every client the server listens to,
// as on a shared CUPS queue; changing printers or the system needs an
// administrator, whom PAM authenticates.
#pragma once

#include <pappl/pappl.h>

#include <string>

/// The administrators: users that PAM service `service` authenticates and
/// that are root or members of `group` (listed in it, or with it as their
/// primary group); an empty `group` means the groups Debian's CUPS
/// administers with: lpadmin, and sys and wheel where they exist. Without a
/// service there are no passwords, and, as in PAPPL, every client on this
/// host administers.
struct admin_policy {
  std::string service;
  std::string group;
};

/// Makes PAPPL ask `policy` (which must outlive the system) about every
/// request it authorizes: job submission (of a document in a format the
/// printers print: app/job/formats.h) and queries pass, and so does
/// looking at the web pages other than the log; cancelling, holding and
/// releasing a job needs its owner or an administrator; anything else
/// (adding, deleting, pausing or modifying printers, the system's settings,
/// the web interface's forms and buttons) needs HTTP Basic credentials of an
/// administrator. (PAPPL 1.3.1 asks nobody about Identify-Printer.)
/// Clients on the control socket are its owner's tools (root's, for the
/// service) and PAPPL lets them through before asking.
void set_admin_policy(pappl_system_t* system, const admin_policy* policy);
