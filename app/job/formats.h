// The document formats lblprinter prints, known by name and by their first
// bytes: a client's document in any other format is refused with the request,
// before it becomes a job that could only abort.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

/// The formats lblprinter's own filters print (job/picture.cc, job/pdf.cc).
inline constexpr char kPdfFormat[] = "application/pdf";
inline constexpr char kPngFormat[] = "image/png";
inline constexpr char kJpegFormat[] = "image/jpeg";

/// The format whose first bytes `header` holds, or nullptr.
const char* detect_format(const unsigned char* header, size_t size);

/// PAPPL's MIME callback: the label stream, which PAPPL's own typing misses.
const char* detect_format_cb(const unsigned char* header, size_t size, void* data);

/// True for every request but a Print-Job or Send-Document whose document is
/// in a format the printers do not print (named by the request or, when the
/// client sent none or application/octet-stream, by its first bytes). Such a
/// request is answered here, client-error-document-format-not-supported
/// naming the formats taken, and its connection closed (a Send-Document's job
/// is canceled): PAPPL 1.3.1 checks no format and would make it a job that
/// can only abort.
bool document_printable(pappl_client_t* client);

/// `lblprinter submit`'s check of the files it names (the arguments after
/// "submit" that are readable files), by their first bytes as the server
/// checks a client's document: the message refusing the first file that
/// cannot print ("photo.txt: Document format ... is not supported; the
/// printer takes ..."), empty when all can.
std::string refuse_submitted_files(int argc, char* argv[]);
