// Finding printers. PAPPL 1.3 asks the avahi daemon for network printers,
// and when the daemon is not running the avahi client library ends the whole
// program at an assertion; lblprinter asks for them only while it runs.
#pragma once

#include <pappl/pappl.h>

#include <string>

/// Lists every device PAPPL finds to `callback`, as papplDeviceList does,
/// network printers through DNS-SD only while the avahi daemon answers;
/// errors are dropped.
void list_devices(pappl_device_cb_t callback, void* data);

/// The "devices" sub-command where PAPPL's own would end at the assertion:
/// one device URI a line; returns the exit status.
int print_devices();

/// Readies the device URI of a printer being added or changed: the file of
/// a file:// URI is created (0600) when missing, since PAPPL takes only
/// existing files. False, with the reason in `problem`, for a URI PAPPL
/// would refuse.
bool prepare_device_uri(const char* uri, std::string* problem);

/// Whether PAPPL's own "devices" sub-command would run safely.
bool avahi_running();
