// Which documents lblprinter takes: one table of formats and their first
// bytes serves PAPPL's typing, the refusal of a request and `submit`'s check.
#include "app/job/formats.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "render/label_stream.h"

namespace {

constexpr char kOctetStream[] = "application/octet-stream";

struct document_format {
  const char* mime;
  std::string_view magic;  // its first bytes
};
// Every format a document may come in: the pictures' and PDF's filters
// (job/picture.cc, job/pdf.cc), PAPPL's raster, and the driver's own.
constexpr document_format kFormats[] = {
    {kPdfFormat, "%PDF"},          {kPngFormat, "\x89PNG\r\n\x1a\n"},
    {kJpegFormat, "\xff\xd8\xff"}, {"image/pwg-raster", "RaS2"},
    {"image/urf", "UNIRAST"},      {label_stream::kMimeType, "SIZE "}};

}  // namespace

const char* detect_format(const unsigned char* header, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(header), size);
  for (const document_format& format : kFormats)
    if (bytes.substr(0, format.magic.size()) == format.magic) return format.mime;
  return nullptr;
}

const char* detect_format_cb(const unsigned char* header, size_t size, void* /*data*/) {
  return detect_format(header, size);
}

namespace {

// The format of a Print-Job's or Send-Document's document: its first bytes
// tell, else the name the client gave it; empty for no document.
std::string document_format_of(pappl_client_t* client) {
  char header[16];
  const ssize_t got = httpPeek(papplClientGetHTTP(client), header, sizeof header);
  if (got <= 0) return {};
  const char* detected =
      detect_format(reinterpret_cast<const unsigned char*>(header), static_cast<size_t>(got));
  if (detected != nullptr) return detected;
  ipp_attribute_t* attr =
      ippFindAttribute(papplClientGetRequest(client), "document-format", IPP_TAG_MIMETYPE);
  const char* named = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
  return named != nullptr ? named : kOctetStream;
}

std::string unsupported_format_message(const std::string& format) {
  std::string message = "Document format \"" + format + "\" is not supported; the printer takes ";
  for (const document_format& known : kFormats)
    message += std::string(known.mime) + (&known == std::end(kFormats) - 1 ? "." : ", ");
  return message;
}

}  // namespace

bool document_printable(pappl_client_t* client) {
  const ipp_op_t operation = papplClientGetOperation(client);
  if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_SEND_DOCUMENT) return true;
  const std::string format = document_format_of(client);
  if (format.empty()) return true;
  for (const document_format& known : kFormats)
    if (format == known.mime) return true;
  // The answer goes out once the document is read (a client still sending
  // it would miss it), then the connection closes under PAPPL's own answer.
  http_t* http = papplClientGetHTTP(client);
  papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "Refused a document in format '%s'.",
                 format.c_str());
  papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED, "%s",
                        unsupported_format_message(format).c_str());
  // A job made with Create-Job would wait for a document that never comes.
  if (pappl_job_t* job = papplClientGetJob(client); job != nullptr) papplJobCancel(job);
  httpFlush(http);
  ipp_t* response = papplClientGetResponse(client);
  ippSetState(response, IPP_STATE_IDLE);
  if (papplClientRespond(client, HTTP_STATUS_OK, nullptr, "application/ipp", 0,
                         ippLength(response)))
    while (ippWrite(http, response) == IPP_STATE_ATTRIBUTE) continue;
  httpFlushWrite(http);
  ::shutdown(httpGetFd(http), SHUT_RDWR);
  return false;
}

std::string refuse_submitted_files(int argc, char* argv[]) {
  for (int i = 2; i < argc; ++i) {
    if (argv[i][0] == '-') {  // an option; its value is the next argument
      i += argv[i][1] != '\0' && argv[i][2] == '\0' ? 1 : 0;
      continue;
    }
    std::FILE* file = std::fopen(argv[i], "rb");
    if (file == nullptr) continue;  // PAPPL names a file it cannot read
    unsigned char header[16];
    const size_t got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    if (got > 0 && detect_format(header, got) == nullptr)
      return std::string(argv[i]) + ": " + unsupported_format_message(kOctetStream);
  }
  return {};
}
