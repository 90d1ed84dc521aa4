#pragma once

// Pieces shared by the capture and playback devices of the wave layer (internal).

#include "platform/acm/codec.h"
#include "platform/wave/backend.h"

#include <memory>
#include <mutex>
#include <set>

namespace framework {
class NoticeSink;
}

namespace wave {

// The set of open handles of one kind, so that a stale handle is refused instead of followed.
class HandleRegistry
{
public:
    void add(const void *handle);
    void remove(const void *handle);
    bool contains(const void *handle) const;

private:
    mutable std::mutex m_mutex;
    std::set<const void *> m_handles;
};

// Checks an open request and chooses the codec; fills request for the backend.
MMRESULT checkOpen(bool input, uint32_t deviceId, const TACMWaveFormat *format, framework::NoticeSink *callback,
    uint32_t flags, WaveBackend &backend, std::unique_ptr<acm::Codec> &codec, DeviceRequest &request);

// Header checks common to prepare, unprepare, add and write.
MMRESULT checkHeader(const WAVEHDR *header, uint32_t headerSize);

// The checks every header call makes, in winmm's order: a live handle, a sound header, then a
// result the backend scripts for op. MMSYSERR_NOERROR means the call goes on.
template<typename Device>
MMRESULT checkHeaderCall(
    const HandleRegistry &registry, Device *handle, const WAVEHDR *header, uint32_t headerSize, WaveOp op)
{
    if (!registry.contains(handle))
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT result = checkHeader(header, headerSize))
        return result;
    return handle->backend().scriptedResult(op);
}

// waveInOpen/waveOutOpen: checks the request, makes the device on the current backend, registers
// it and posts its open notice.
template<typename Device>
MMRESULT openDevice(bool input, Device **handle, uint32_t deviceId, const TACMWaveFormat *format,
    framework::NoticeSink *callback, uint32_t flags, HandleRegistry &registry, uint32_t openNotice)
{
    if (!handle && !(flags & WAVE_FORMAT_QUERY))
        return MMSYSERR_INVALPARAM;
    auto backend = currentBackend();
    if (const MMRESULT scripted = backend->scriptedResult(input ? WaveOp::InOpen : WaveOp::OutOpen))
        return scripted;
    std::unique_ptr<acm::Codec> codec;
    DeviceRequest request;
    if (const MMRESULT result = checkOpen(input, deviceId, format, callback, flags, *backend, codec, request))
        return result;
    if (flags & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    auto device = std::make_unique<Device>(backend, std::move(codec), callback);
    if (const MMRESULT result = device->open(request))
        return result;
    *handle = device.release();
    registry.add(*handle);
    (*handle)->postNotice(openNotice);
    return MMSYSERR_NOERROR;
}

// Samples the device-side rings hold: one second, at least 4096.
std::size_t ringCapacity(uint32_t rate);

} // namespace wave
