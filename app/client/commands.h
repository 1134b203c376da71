// lblprinter's own sub-commands on the client side: each sends one request to
// the server over its control socket and prints the answer.
#pragma once

#include <string>

/// "lblprinter calibrate -d PRINTER", "test-label -d PRINTER", "delete -d
/// PRINTER" (asking the printer's id first) and "status -d PRINTER": sends
/// the request to the server on its control socket, `socket`, and returns
/// the exit status; -1 when `argv` names none of them.
int run_printer_command(int argc, char* argv[], const std::string& socket);
