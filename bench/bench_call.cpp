// Call measurements: mouth-to-ear latency against the designed buffering per codec, CPU per
// call-second, and the playback queue over a simulated hour with a sender clock 0.5 % fast (within
// the playback device's bound).
// Run: build/bench/bench_call (Google Benchmark; the figures are in the counters).

#include "call/codectable.h"
#include "call/roombackend.h"
#include "call/telefoon.h"
#include "framework/application.h"
#include "net/udptestpeer.h"
#include "platform/wave/backend.h"
#include "platform/wave/waveapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>

namespace {

void serve(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Capture-buffer duration of a codec: the whole blocks that fit the capture buffer.
double bufferSeconds(call::Tverbinding codec)
{
    const wave::WAVEFORMATEX format = call::codecFormat(uint8_t(codec))->format;
    const uint32_t size = call::captureBufferSize(format);
    const uint32_t used = size / format.nBlockAlign * format.nBlockAlign;
    return double(used) / format.nAvgBytesPerSec;
}

// One call from A (a 440 Hz tone starting at 1.5 s of its microphone time) to B (silent).
// Returns the delay from the tone's onset at A's microphone to its onset in B's speaker, and the
// process CPU time per second of the running call.
struct CallRun
{
    double latency = -1;
    double cpuPerCallSecond = 0;
};

CallRun runCall(call::Tverbinding codec)
{
    auto room = std::make_shared<testsupport::RoomBackend>(
        std::vector<double> { 440.0, 0.0 }, std::vector<double> { 1.5, 0 });
    wave::setBackend(room);
    CallRun run;
    {
        call::TTelefoon a;
        call::TTelefoon b;
        const uint16_t portA = testsupport::freeUdpPort();
        const uint16_t portB = testsupport::freeUdpPort();
        a.setLocal_Port(portA);
        a.setLocal_Ping_Port(testsupport::freeUdpPort());
        b.setLocal_Port(portB);
        b.setLocal_Ping_Port(testsupport::freeUdpPort());
        a.setRemote_Port(portB);
        a.setLocal_IP("127.0.0.1");
        a.setConnection(codec);
        a.setAuto_synchronise(false); // measure the buffering, not the thinning
        b.setAuto_synchronise(false);
        a.CallTo("127.0.0.1");
        serve(500);
        const double cpuStart = processCpuSeconds();
        serve(2500);
        run.cpuPerCallSecond = (processCpuSeconds() - cpuStart) / 2.5;
        a.setCalling(false);
        serve(100);
    }
    wave::setBackend(nullptr);
    if (room->outputCount() < 2)
        return run;
    const std::vector<int16_t> heard = room->recording(1);
    const uint32_t rate = room->outputRate(1);
    for (std::size_t i = 0; i < heard.size(); ++i) {
        if (std::abs(heard[i]) > 2000) {
            const auto onsetHeard = room->outputStart(1) + std::chrono::microseconds(uint64_t(i) * 1000000 / rate);
            run.latency = std::chrono::duration<double>(onsetHeard - room->inputOnset(0)).count();
            break;
        }
    }
    return run;
}

void BM_MouthToEar(benchmark::State &state)
{
    const auto codec = call::Tverbinding(state.range(0));
    std::vector<double> latencies;
    double cpu = 0;
    for (auto _ : state) {
        const CallRun run = runCall(codec);
        if (run.latency < 0) {
            state.SkipWithError("the tone never arrived");
            return;
        }
        latencies.push_back(run.latency);
        cpu += run.cpuPerCallSecond;
        state.SetIterationTime(run.latency);
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double designed = 5 * bufferSeconds(codec); // one capture buffer plus four held back
    state.counters["latency_ms"] = median * 1000;
    state.counters["designed_ms"] = designed * 1000;
    state.counters["latency/designed"] = median / designed;
    // Both sides of the call run in this process: half is one side's cost.
    state.counters["cpu_ms_per_call_s_per_side"] = cpu / double(latencies.size()) / 2 * 1000;
}
BENCHMARK(BM_MouthToEar)
    ->ArgName("codec")
    ->Arg(int(call::Tverbinding::GSM610))
    ->Arg(int(call::Tverbinding::PCM8))
    ->Arg(int(call::Tverbinding::PCM11))
    ->Arg(int(call::Tverbinding::PCM22))
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The shared generator's rule, one instance per process of the simulation.
struct Generator
{
    uint32_t state = 0;
    bool keeps()
    {
        state = state * 134775813u + 1u;
        return uint32_t((uint64_t(state) * 1200u) >> 32) > 20;
    }
};

// A simulated hour: A's sound card runs 0.5 % fast, so A sends buffers a little faster than B
// plays them. Each side's generator also draws for the voice it receives from the other. Returns
// B's playback queue (seconds of sound) at the end and at its largest, and the seconds B's
// speaker went without sound after the start.
void BM_PlaybackQueueHour(benchmark::State &state)
{
    const bool synchronise = state.range(0) != 0;
    const double buffer = 0.05; // PCM-8: a twentieth of a second per datagram
    double endQueue = 0, maxQueue = 0, starved = 0;
    for (auto _ : state) {
        Generator a, b;
        double queue = 0;
        int heldBack = 0;
        bool playing = false;
        const double hour = 3600;
        const double sendPeriod = buffer / 1.005;
        double nextSend = 0, now = 0;
        maxQueue = starved = 0;
        for (double nextBOwn = 0; now < hour;) {
            // Events in time order: A's capture buffer, or B's own capture buffer (which only
            // advances B's generator: B's voice to A is thinned by B as well).
            if (nextSend <= nextBOwn) {
                const double dt = nextSend - now;
                if (playing) {
                    const double played = std::min(queue, dt);
                    starved += dt - played;
                    queue -= played;
                }
                now = nextSend;
                nextSend += sendPeriod;
                const bool sent = a.keeps() || !synchronise;
                const bool played = sent && (b.keeps() || !synchronise);
                if (played) {
                    if (!playing && ++heldBack > 4)
                        playing = true;
                    queue += buffer;
                    // Beyond the device's bound the oldest waiting buffer goes unheard.
                    if (queue > wave::kMaxQueuedPlaybackMs / 1000.0)
                        queue -= buffer;
                }
                a.keeps(); // A receives B's voice meanwhile
                maxQueue = std::max(maxQueue, queue);
            } else {
                b.keeps();
                nextBOwn += buffer;
            }
        }
        endQueue = queue;
    }
    state.counters["queue_end_ms"] = endQueue * 1000;
    state.counters["queue_max_ms"] = maxQueue * 1000;
    state.counters["starved_s_per_hour"] = starved;
}
BENCHMARK(BM_PlaybackQueueHour)
    ->ArgName("auto_synchronise")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The components' own messages (ports taken by the default bind, call events) are not results.
    framework::Application::setShowMessageHandler([](const QString &) {});
    framework::Application::setExceptionHandler([](QObject *, const QString &) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
