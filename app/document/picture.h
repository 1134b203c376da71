// Pictures (PNG, JPEG) as lblprinter prints them: decoded a row at a time,
// placed on the label by IPP's print-scaling and orientation-requested, and
// written as one whole label sequence or not at all. Nothing here knows
// PAPPL: the fuzz target runs the server's own code on bytes in memory.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "app/document/placement.h"
#include "render/render.h"
#include "settings/settings.h"

/// The largest picture taken, checked on its header before anything is
/// allocated for it: 64 megapixels (2^26 pixels), 65535 pixels a side.
inline constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 26;
inline constexpr uint32_t kMaxPictureSide = 65535;

/// A picture whose decoding takes longer than this is given up.
inline constexpr std::chrono::seconds kMaxDecodeTime{10};

/// A progressive JPEG is decoded whole before its first row: libjpeg keeps
/// every coefficient (2 bytes for each sample of up to 3 components), so the
/// pixel bound gives its memory bound, plus room for its working buffers.
inline constexpr long kMaxJpegMemory = 3 * 2 * kMaxPicturePixels + (16L << 20);

enum class picture_format { kPng, kJpeg };

/// Decodes the picture in `in` (PNG or JPEG), places it on the label and
/// writes the label's one command sequence to `out`. A picture that cannot
/// be printed writes nothing: false, and `error` says why ("PNG data ends
/// early at byte 700"). A cancelled job writes nothing and returns true.
[[nodiscard]] bool print_picture(picture_format format, std::FILE* in, const picture_job& job,
                                 label_output& out, std::string* error);
