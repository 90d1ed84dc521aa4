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

// Samples the device-side rings hold: one second, at least 4096.
std::size_t ringCapacity(uint32_t rate);

} // namespace wave
