#pragma once

// The conversion stream of the codec layer, in the shape of the Audio Compression Manager's
// stream calls. A stream converts between two formats of the same sample rate through the
// installed drivers (decode to 16-bit mono PCM, then encode). Streams are synchronous; every
// call is for one thread at a time per stream.

#include "platform/wave/mmsystem.h"

#include <cstdint>

namespace acm {

struct AcmStream;
using HACMSTREAM = AcmStream *;

constexpr uint32_t ACM_STREAMOPENF_QUERY = 0x1;
constexpr uint32_t ACM_STREAMOPENF_ASYNC = 0x2;
constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x4;
constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x0;
constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x1;
constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x10;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x20;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

struct ACMSTREAMHEADER
{
    uint32_t cbStruct = 0; // sizeof(ACMSTREAMHEADER)
    uint32_t fdwStatus = 0;
    uintptr_t dwUser = 0;
    uint8_t *pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0;
    uintptr_t dwSrcUser = 0;
    uint8_t *pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0;
    uintptr_t dwDstUser = 0;
    uint32_t dwReservedDriver[10] = {};
};

// driver and filter must be null (any installed driver; no filters), callback and instance 0.
// Formats are read as whole 129-byte records. Different sample rates: ACMERR_NOTPOSSIBLE; a format
// no driver codes: ACMERR_NOTPOSSIBLE as well (the stream layer's word for it).
wave::MMRESULT acmStreamOpen(HACMSTREAM *stream, void *driver, const wave::TACMWaveFormat *source,
    const wave::TACMWaveFormat *destination, void *filter, uintptr_t callback, uintptr_t instance, uint32_t flags);
// SOURCE: bytes the destination needs for inputBytes of source (whole blocks, rounded up);
// DESTINATION: the most source bytes whose conversion fits in inputBytes of destination.
// ACMERR_NOTPOSSIBLE when the answer would be no whole block.
wave::MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t inputBytes, uint32_t *outputBytes, uint32_t flags);
wave::MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER *header, uint32_t flags);
wave::MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER *header, uint32_t flags);
// Converts whole source blocks into whole destination blocks; samples that do not fill a
// destination block wait in the stream for the next call (END pads them out with silence; START
// begins afresh, dropping them and the coders' memory of earlier blocks).
wave::MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER *header, uint32_t flags);
wave::MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags);

} // namespace acm
