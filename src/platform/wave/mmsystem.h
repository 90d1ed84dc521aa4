#pragma once

// Result codes, message numbers, flags and records of the wave and codec layers, in the shape and
// with the numbers of the Windows multimedia API that the audio components were designed against.
// Header only: the codec layer (platform/acm) uses these types without linking the wave layer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace wave {

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;
constexpr MMRESULT ACMERR_CANCELED = 515;

// Notices posted to a callback window (the owner's notice sink); the header is the second
// parameter, the device handle the first.
constexpr uint32_t MM_WOM_OPEN = 0x3BB;
constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr uint32_t MM_WOM_DONE = 0x3BD;
constexpr uint32_t MM_WIM_OPEN = 0x3BE;
constexpr uint32_t MM_WIM_CLOSE = 0x3BF;
constexpr uint32_t MM_WIM_DATA = 0x3C0;

constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// Open flags.
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint32_t WAVE_MAPPED = 0x0004;
constexpr uint32_t CALLBACK_NULL = 0x00000;
constexpr uint32_t CALLBACK_WINDOW = 0x10000;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_BEGINLOOP = 0x04;
constexpr uint32_t WHDR_ENDLOOP = 0x08;
constexpr uint32_t WHDR_INQUEUE = 0x10;
// This layer's own: the buffer passes through the codec like any other, so that a codec with
// memory between blocks stays in step with its encoder, but its sound is not played.
constexpr uint32_t WHDR_NOSOUND = 0x00010000;

constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_GSM610 = 0x0031;
constexpr uint16_t WAVE_FORMAT_LH_CODEC_4800 = 0x1101; // Lernout & Hauspie, no driver here
constexpr uint16_t WAVE_FORMAT_LH_CODEC_9600 = 0x1102; // Lernout & Hauspie, no driver here

#pragma pack(push, 1)
// The standard wave format header, little-endian on every platform this runs on.
struct WAVEFORMATEX
{
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize; // bytes of codec data that follow; may claim more than a record holds
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// The audio components' 129-byte wave format record: the header and 111 bytes of room for the
// codec's extra data. Always copied whole; cbSize is never trusted as a length.
struct TACMWaveFormat
{
    static constexpr std::size_t kSize = 129;
    static constexpr std::size_t kExtraRoom = kSize - sizeof(WAVEFORMATEX);

    WAVEFORMATEX format;
    uint8_t extra[kExtraRoom];

    // The extra bytes that really are inside the record: min(cbSize, 111).
    std::size_t extraAvailable() const { return format.cbSize < kExtraRoom ? format.cbSize : kExtraRoom; }
    const uint8_t *bytes() const { return reinterpret_cast<const uint8_t *>(this); }
    uint8_t *bytes() { return reinterpret_cast<uint8_t *>(this); }
};
static_assert(sizeof(TACMWaveFormat) == TACMWaveFormat::kSize);
static_assert(std::is_trivially_copyable_v<TACMWaveFormat>);

// A zeroed record with the given header.
inline TACMWaveFormat makeWaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avgBytes,
    uint16_t blockAlign, uint16_t bits, uint16_t cbSize = 0)
{
    TACMWaveFormat record;
    std::memset(&record, 0, sizeof record);
    record.format = WAVEFORMATEX { tag, channels, rate, avgBytes, blockAlign, bits, cbSize };
    return record;
}

// A wave buffer header. Owned by the caller; the device keeps a pointer while it is queued.
struct WAVEHDR
{
    char *lpData = nullptr;
    uint32_t dwBufferLength = 0; // bytes
    uint32_t dwBytesRecorded = 0; // bytes
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    WAVEHDR *lpNext = nullptr;
    uintptr_t reserved = 0;
};

} // namespace wave
