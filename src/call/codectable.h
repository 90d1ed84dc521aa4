#pragma once

#include "platform/wave/mmsystem.h"

#include <cstdint>
#include <optional>

namespace call {

// The call's codec, one byte on the wire (its ordinal travels in the call request).
enum class Tverbinding : uint8_t
{
    LERNOUT4 = 0,
    PCM8 = 1,
    GSM610 = 2,
    PCM22 = 3,
    PCM11 = 4,
    LERNOUT8 = 5,
};

// The wave format of a codec number; none for a number outside 0..5 (only a peer's request can
// carry one), so that no device is ever opened in an undefined format.
std::optional<wave::TACMWaveFormat> codecFormat(uint8_t ordinal);

// Capture buffer size in bytes for a format: a twentieth of a second of compressed sound, at
// least two blocks when a block would not fit, at most 1900 (so a datagram stays inside the
// socket's 2048-byte buffer) and never 150 (the size that marks a signalling datagram).
uint32_t captureBufferSize(const wave::WAVEFORMATEX &format);

constexpr int kBuffersPerSecond = 20;
constexpr uint32_t kMaxCaptureBuffer = 1900;
constexpr uint32_t kSignalSize = 150;
constexpr uint32_t kSignalSizeReplacement = kSignalSize + 65;

} // namespace call
