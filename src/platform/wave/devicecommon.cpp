#include "platform/wave/devicecommon.h"

#include "framework/noticesink.h"

namespace wave {

void HandleRegistry::add(const void *handle)
{
    std::lock_guard lock(m_mutex);
    m_handles.insert(handle);
}

void HandleRegistry::remove(const void *handle)
{
    std::lock_guard lock(m_mutex);
    m_handles.erase(handle);
}

bool HandleRegistry::contains(const void *handle) const
{
    std::lock_guard lock(m_mutex);
    return handle && m_handles.count(handle) != 0;
}

MMRESULT checkOpen(bool input, uint32_t deviceId, const TACMWaveFormat *format, framework::NoticeSink *callback,
    uint32_t flags, WaveBackend &backend, std::unique_ptr<acm::Codec> &codec, DeviceRequest &request)
{
    if (flags & ~(WAVE_FORMAT_QUERY | WAVE_MAPPED | CALLBACK_WINDOW))
        return MMSYSERR_INVALFLAG;
    if (!format || ((flags & CALLBACK_WINDOW) && !callback))
        return MMSYSERR_INVALPARAM;
    const unsigned devices = input ? backend.inputDeviceCount() : backend.outputDeviceCount();
    if (devices == 0 || (deviceId != WAVE_MAPPER && deviceId >= devices))
        return MMSYSERR_BADDEVICEID;
    // The device itself speaks PCM only; anything else needs the mapper's codec in between.
    const bool mapped = deviceId == WAVE_MAPPER || (flags & WAVE_MAPPED);
    if (format->format.wFormatTag != WAVE_FORMAT_PCM && !mapped)
        return WAVERR_BADFORMAT;
    const MMRESULT opened = acm::openCodec(*format, codec);
    if (opened != MMSYSERR_NOERROR)
        return opened;
    request.input = input;
    request.deviceId = deviceId;
    request.flags = flags;
    request.format = *format;
    request.pcmRate = codec->pcmRate();
    request.latencySeconds = requestedLatency();
    return MMSYSERR_NOERROR;
}

MMRESULT checkHeader(const WAVEHDR *header, uint32_t headerSize)
{
    if (!header || headerSize < sizeof(WAVEHDR) || (!header->lpData && header->dwBufferLength != 0))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

std::size_t ringCapacity(uint32_t rate)
{
    return std::max<std::size_t>(rate, 4096);
}

} // namespace wave
