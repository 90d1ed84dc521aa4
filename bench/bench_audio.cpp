// Audio costs: GSM 6.10 coding speed (seconds of audio per CPU second), the CPU that one second
// of full-duplex GSM capture plus playback through the wave mapper costs (file devices paced in
// real time, so the device threads' own polling is counted), and the latency PortAudio reports
// for the streams as opened (needs a sound server: bench/run-audio starts a private one).

#include "audio/soundin.h"
#include "audio/soundout.h"
#include "platform/acm/codec.h"
#include "platform/acm/gsmdriver.h"
#include "platform/wave/filebackend.h"
#include "platform/wave/portaudiobackend.h"
#include "platform/wave/samplering.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kBlocks = 250; // ten seconds of 8 kHz sound

std::vector<int16_t> speechLike(std::size_t samples)
{
    std::vector<int16_t> pcm(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = double(i) / 8000;
        pcm[i] = int16_t(6000 * std::sin(2 * M_PI * 220 * t) * (1 + std::sin(2 * M_PI * 3 * t))
            + 2000 * std::sin(2 * M_PI * 1370 * t));
    }
    return pcm;
}

std::unique_ptr<acm::Codec> gsmCodec()
{
    std::unique_ptr<acm::Codec> codec;
    acm::openCodec(acm::GsmDriver::standardFormat(), codec);
    return codec;
}

void BM_GsmEncode(benchmark::State &state)
{
    const auto pcm = speechLike(kBlocks * 320);
    std::vector<uint8_t> coded(kBlocks * 65);
    auto codec = gsmCodec();
    for (auto _ : state) {
        codec->encode(pcm.data(), kBlocks, coded.data());
        benchmark::DoNotOptimize(coded.data());
    }
    state.counters["audio_s_per_cpu_s"]
        = benchmark::Counter(double(kBlocks) * 0.04 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GsmEncode);

void BM_GsmDecode(benchmark::State &state)
{
    const auto pcm = speechLike(kBlocks * 320);
    std::vector<uint8_t> coded(kBlocks * 65);
    gsmCodec()->encode(pcm.data(), kBlocks, coded.data());
    std::vector<int16_t> back(pcm.size());
    auto codec = gsmCodec();
    for (auto _ : state) {
        codec->decode(coded.data(), kBlocks, back.data());
        benchmark::DoNotOptimize(back.data());
    }
    state.counters["audio_s_per_cpu_s"]
        = benchmark::Counter(double(kBlocks) * 0.04 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GsmDecode);

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// One second of a call's audio path in GSM: captured buffers are played back at once, as the
// call engine does with the peer's datagrams.
void BM_DuplexGsmSecond(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("in.wav");
    {
        wave::WavWriter writer;
        writer.open(input, 8000, false);
        const auto pcm = speechLike(8000 * 3);
        writer.append(pcm.data(), pcm.size());
    }
    auto previous = wave::setBackend(std::make_shared<wave::FileBackend>(input, dir.filePath("out.wav")));
    double cpu = 0;
    for (auto _ : state) {
        audio::TACMIn in;
        audio::TACMOut out;
        in.setBufferSize(81);
        in.OnBufferFull = [&](QObject *, const void *data, int size) { out.Play(data, size); };
        const auto format = acm::GsmDriver::standardFormat();
        const double before = processCpuSeconds();
        out.Open(format);
        in.Open(format);
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        in.Close();
        out.Close();
        cpu += processCpuSeconds() - before;
    }
    wave::setBackend(previous);
    state.counters["cpu_ms_per_audio_s"] = cpu * 1000 / double(state.iterations());
}
BENCHMARK(BM_DuplexGsmSecond)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The latency PortAudio reports for a capture and a playback stream at 8 kHz as the backend
// opens them (the default suggested latency), with the streams running.
void BM_PortAudioReportedLatency(benchmark::State &state)
{
    auto backend = std::make_shared<wave::PortAudioBackend>();
    if (backend->inputDeviceCount() == 0 || backend->outputDeviceCount() == 0) {
        state.SkipWithError("no PortAudio devices (bench/run-audio starts a private sound server)");
        return;
    }
    wave::DeviceRequest request;
    request.pcmRate = 8000;
    wave::CaptureFeed capture(8000);
    wave::PlaybackFeed playback(8000);
    for (auto _ : state) {
        std::unique_ptr<wave::BackendStream> in, out;
        if (backend->openInput(request, capture, in) != 0 || backend->openOutput(request, playback, out) != 0) {
            state.SkipWithError("PortAudio refused to open the default devices");
            return;
        }
        in->start();
        out->start();
        in->stop();
        out->stop();
    }
    state.counters["input_latency_ms"] = backend->lastInputLatency() * 1000;
    state.counters["output_latency_ms"] = backend->lastOutputLatency() * 1000;
}
BENCHMARK(BM_PortAudioReportedLatency)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
