// What a printer has been sent of the label being written: a server killed
// mid-label leaves the printer inside a BITMAP payload, which would swallow
// the next label's commands. Each label goes out through a small journal in
// the state folder (its commands before and after the payload, the payload's
// length, the bytes sent so far), and the next label sent to that printer,
// after a restart, first completes the half-sent one: the rest of its
// commands, blank dots for the rest of its payload.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <functional>
#include <string>

/// Keeps the journals in `state_directory` (which must outlive the server);
/// without it labels go out unjournaled.
void keep_page_journals(const char* state_directory);

/// Reads `size` bytes of a label at `offset` into `data`; false when it cannot.
using label_read_fn = std::function<bool(uint64_t offset, uint8_t* data, size_t size)>;

/// One whole label sequence of `length` bytes whose BITMAP payload is the
/// `payload_size` bytes at `payload_offset`.
struct label_bytes {
  uint64_t length;
  uint64_t payload_offset;
  uint64_t payload_size;
  label_read_fn read;
};

/// Sends `label` to `job`'s printer on `device`, journaled, after completing
/// a label a stopped server left half-sent; false when a write fails.
[[nodiscard]] bool send_label(pappl_job_t* job, pappl_device_t* device, const label_bytes& label);

/// The job the printer named `printer_name` was last sent a label of, from
/// its journal (0: none).
int journaled_job(const std::string& printer_name);
