// A printer's journal, <hex of its name>.journal: one line
// "lbljournal JOB LENGTH PAYLOAD-OFFSET PAYLOAD-SIZE SENT" (SENT 20 digits
// wide, rewritten in place as the label goes out), then the label's bytes
// before its payload and after it. The record reaches the disk before the
// label's first byte goes out and again once its last one has: a kill -9 loses
// nothing written to the page cache, and a power cut nothing of either end.
#include "app/job/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "render/label_stream.h"

namespace {

constexpr size_t kChunk = 65536;
constexpr size_t kSentDigits = 20;
constexpr char kRecordFormat[] = "lbljournal %d %" PRIu64 " %" PRIu64 " %" PRIu64 " ";
constexpr size_t kMaxRecordLine = 128;
// Commands around a payload are a few lines; a journal beyond this is not ours.
constexpr long kMaxJournalBytes = 8192;

// Set once, before the server starts its threads.
const char*& journal_directory() {
  static const char* directory = nullptr;
  return directory;
}

std::string journal_path(const std::string& printer_name) {
  if (journal_directory() == nullptr) return {};
  std::string path = std::string(journal_directory()) + "/";
  for (const unsigned char c : printer_name) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", c);
    path += hex;
  }
  return path + ".journal";
}

struct record {
  int job = 0;
  uint64_t length = 0, payload_offset = 0, payload_size = 0, sent = 0;
  std::string head, tail;  // the bytes before and after the payload
};

bool read_record(const std::string& path, record* out) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return false;
  std::vector<char> bytes(kMaxJournalBytes);
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), in);
  std::fclose(in);
  const auto line_end = std::find(bytes.begin(), bytes.begin() + static_cast<long>(got), '\n');
  if (line_end == bytes.begin() + static_cast<long>(got)) return false;
  const std::string line(bytes.begin(), line_end);
  record r;
  if (std::sscanf(line.c_str(), "lbljournal %d %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64,
                  &r.job, &r.length, &r.payload_offset, &r.payload_size, &r.sent) != 5 ||
      r.payload_offset + r.payload_size > r.length)
    return false;
  const size_t body = static_cast<size_t>(line_end - bytes.begin()) + 1;
  const uint64_t tail_size = r.length - r.payload_offset - r.payload_size;
  if (got != body + r.payload_offset + tail_size) return false;
  r.head.assign(bytes.data() + body, r.payload_offset);
  r.tail.assign(bytes.data() + body + r.payload_offset, tail_size);
  *out = std::move(r);
  return true;
}

bool write_all(pappl_device_t* device, const void* data, size_t size) {
  return size == 0 || papplDeviceWrite(device, data, size) == static_cast<ssize_t>(size);
}

// The rest of a half-sent label: its commands, and blank dots where its
// payload stopped, so that the printer reads the next label's commands as
// commands. The label prints with what it got.
bool complete_label(pappl_job_t* job, pappl_device_t* device, const record& r) {
  const uint64_t payload_end = r.payload_offset + r.payload_size;
  if (r.sent >= r.length) return true;
  if (r.sent < r.payload_offset &&
      !write_all(device, r.head.data() + r.sent, r.payload_offset - r.sent))
    return false;
  const std::vector<uint8_t> blank(kChunk, label_stream::to_wire(0));
  for (uint64_t at = std::max(r.sent, r.payload_offset); at < payload_end;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, payload_end - at));
    if (!write_all(device, blank.data(), n)) return false;
    at += n;
  }
  const uint64_t tail_from = r.sent > payload_end ? r.sent - payload_end : 0;
  if (!write_all(device, r.tail.data() + tail_from, r.tail.size() - tail_from)) return false;
  papplDeviceFlush(device);
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "Completed the label of job %d that the server stopped sending at byte %" PRIu64
              " of %" PRIu64 ", with blank dots.",
              r.job, r.sent, r.length);
  return true;
}

// The journal of the label going out; no journal without a state folder.
class journal {
 public:
  ~journal() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool begin(const std::string& path, int job, const label_bytes& label) {
    if (path.empty()) return true;
    if (label.payload_offset + label.payload_size > label.length ||
        label.length - label.payload_size > static_cast<uint64_t>(kMaxJournalBytes / 2))
      return false;
    std::string bytes(kMaxRecordLine, '\0');
    const int n = std::snprintf(bytes.data(), bytes.size(), kRecordFormat, job, label.length,
                                label.payload_offset, label.payload_size);
    if (n <= 0 || static_cast<size_t>(n) + kSentDigits + 1 >= bytes.size()) return false;
    sent_at_ = static_cast<off_t>(n);
    bytes.resize(static_cast<size_t>(n));
    bytes += std::string(kSentDigits, '0') + "\n";
    const size_t head = static_cast<size_t>(label.payload_offset);
    const size_t tail =
        static_cast<size_t>(label.length - label.payload_offset - label.payload_size);
    const size_t body = bytes.size();
    bytes.resize(body + head + tail);
    auto* data = reinterpret_cast<uint8_t*>(bytes.data() + body);
    if (!label.read(0, data, head) ||
        !label.read(label.payload_offset + label.payload_size, data + head, tail))
      return false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return fd_ >= 0 &&
           ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
           ::fsync(fd_) == 0;
  }

  void sent(uint64_t bytes, bool last) {
    if (fd_ < 0) return;
    char digits[kSentDigits + 1];
    std::snprintf(digits, sizeof digits, "%020" PRIu64, bytes);
    if (::pwrite(fd_, digits, kSentDigits, sent_at_) == static_cast<ssize_t>(kSentDigits) && last)
      ::fsync(fd_);
  }

 private:
  int fd_ = -1;
  off_t sent_at_ = 0;
};

}  // namespace

void keep_page_journals(const char* state_directory) { journal_directory() = state_directory; }

bool send_label(pappl_job_t* job, pappl_device_t* device, const label_bytes& label) {
  const std::string path = journal_path(papplPrinterGetName(papplJobGetPrinter(job)));
  record left;
  if (!path.empty() && read_record(path, &left) && !complete_label(job, device, left)) return false;
  journal kept;
  if (!kept.begin(path, papplJobGetID(job), label)) return false;
  // Each piece reaches the device before the journal counts it.
  std::vector<uint8_t> chunk(kChunk);
  for (uint64_t at = 0; at < label.length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, label.length - at));
    if (!label.read(at, chunk.data(), n) || !write_all(device, chunk.data(), n)) return false;
    papplDeviceFlush(device);
    at += n;
    kept.sent(at, at == label.length);
  }
  return true;
}

int journaled_job(const std::string& printer_name) {
  record r;
  return read_record(journal_path(printer_name), &r) ? r.job : 0;
}
