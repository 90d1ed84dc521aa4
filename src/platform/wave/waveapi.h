#pragma once

// Wave devices with winmm's calls and result codes. Devices are opened in any format an
// installed codec driver handles (the mapper codes between the device's 16-bit mono PCM and the
// format); completions are posted to the callback notice sink as MM_WIM_DATA / MM_WOM_DONE with
// the handle as first and the header as second parameter, and arrive on the sink's thread.
// Audio threads never call component code.
//
// Threads: each handle is used from one thread at a time (the owning component's). Headers are
// owned by the caller and must stay valid from waveXxxAddBuffer / waveOutWrite until their
// completion notice has been posted (a reset posts all of them before it returns).
// A stale or foreign handle gives MMSYSERR_INVALHANDLE, never a crash.

#include "platform/wave/mmsystem.h"

namespace framework {
class NoticeSink;
}

namespace wave {

class WaveInDevice;
class WaveOutDevice;
using HWAVEIN = WaveInDevice *;
using HWAVEOUT = WaveOutDevice *;

// The device is WAVE_MAPPER or 0 (the default device). A format other than PCM needs the
// mapper: WAVE_MAPPER, or WAVE_MAPPED on device 0; else WAVERR_BADFORMAT. CALLBACK_WINDOW needs a
// sink. WAVE_FORMAT_QUERY only checks. The format is read as a whole 129-byte record.
MMRESULT waveInOpen(HWAVEIN *handle, uint32_t deviceId, const TACMWaveFormat *format, framework::NoticeSink *callback,
    uintptr_t instance, uint32_t flags);
MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize);
// A capture buffer in a block format receives whole blocks only; it is returned as soon as the
// next block would not fit. A buffer too small for one block is returned empty when a block's
// worth of sound has passed.
MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveInStart(HWAVEIN handle);
// Stops recording; a partly filled buffer is returned, empty ones stay queued.
MMRESULT waveInStop(HWAVEIN handle);
// Stops recording and returns every queued buffer.
MMRESULT waveInReset(HWAVEIN handle);
// WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveInClose(HWAVEIN handle);
unsigned waveInGetNumDevs();

MMRESULT waveOutOpen(HWAVEOUT *handle, uint32_t deviceId, const TACMWaveFormat *format, framework::NoticeSink *callback,
    uintptr_t instance, uint32_t flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize);
// Sound a playback device holds at most, decoded or waiting to be: two seconds. Beyond it the
// oldest buffers not yet decoded are decoded without being played (and counted), so that a sender
// faster than the device, or one that floods it, costs neither memory nor delay without limit.
constexpr uint32_t kMaxQueuedPlaybackMs = 2000;

// Any length and content is accepted. Each buffer is decoded on its own, whole blocks only: a
// partial block at its end is dropped and counted, so that one stray buffer of odd size cannot
// shift the blocks of the buffers after it. A buffer flagged WHDR_NOSOUND is decoded in its turn
// but not heard. A buffer is done when its sound has been played (at once for one not heard).
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize);
// Stops at once and returns every queued buffer.
MMRESULT waveOutReset(HWAVEOUT handle);
MMRESULT waveOutClose(HWAVEOUT handle);
// Left channel in the low 16 bits, right in the high; 0xFFFF is full level. Reads back as set.
MMRESULT waveOutSetVolume(HWAVEOUT handle, uint32_t volume);
MMRESULT waveOutGetVolume(HWAVEOUT handle, uint32_t *volume);
// What the device counted since it was opened.
struct WaveOutStats
{
    uint64_t partialTails = 0; // buffers whose last, partial block was dropped
    uint64_t overflowBuffers = 0; // buffers not played to keep within kMaxQueuedPlaybackMs
    uint64_t underruns = 0; // times the device ran out of sound while playing
    uint64_t queuedSamples = 0; // device-side samples written and not yet played, at this moment
};
MMRESULT waveOutGetStats(HWAVEOUT handle, WaveOutStats *stats);
unsigned waveOutGetNumDevs();

} // namespace wave
