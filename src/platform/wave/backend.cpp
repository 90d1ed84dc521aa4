#include "platform/wave/backend.h"

#include "platform/wave/portaudiobackend.h"

#include <atomic>
#include <mutex>

namespace wave {

namespace {

std::mutex &backendMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<WaveBackend> &installed()
{
    static std::shared_ptr<WaveBackend> backend;
    return backend;
}

std::atomic<double> &latency()
{
    static std::atomic<double> seconds { 0 };
    return seconds;
}

} // namespace

void setRequestedLatency(double seconds)
{
    latency().store(seconds > 0 ? seconds : 0);
}

double requestedLatency()
{
    return latency().load();
}

std::shared_ptr<WaveBackend> currentBackend()
{
    std::lock_guard lock(backendMutex());
    if (!installed())
        installed() = std::make_shared<PortAudioBackend>();
    return installed();
}

std::shared_ptr<WaveBackend> setBackend(std::shared_ptr<WaveBackend> backend)
{
    std::lock_guard lock(backendMutex());
    std::shared_ptr<WaveBackend> previous = std::move(installed());
    installed() = std::move(backend);
    return previous;
}

} // namespace wave
