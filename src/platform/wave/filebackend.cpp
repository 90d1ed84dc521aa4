#include "platform/wave/filebackend.h"

#include "platform/wave/samplering.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace wave {

// One paced stream: a thread that every few milliseconds moves as many samples as the clock says
// are due, between the file side and the feed.
class FileStream : public BackendStream
{
public:
    FileStream(FileBackend *owner, uint32_t rate, CaptureFeed *capture, std::vector<int16_t> source,
        PlaybackFeed *playback, std::unique_ptr<WavWriter> writer)
        : m_owner(owner)
        , m_rate(rate)
        , m_capture(capture)
        , m_source(std::move(source))
        , m_playback(playback)
        , m_writer(std::move(writer))
        , m_toFile(rate, m_writer ? m_writer->rate() : rate)
    { }

    ~FileStream() override
    {
        stop();
        m_owner->streamGone(m_capture != nullptr);
    }

    MMRESULT start() override
    {
        if (m_thread.joinable())
            return MMSYSERR_NOERROR;
        m_stopping = false;
        m_thread = std::thread([this] { run(); });
        return MMSYSERR_NOERROR;
    }

    void stop() noexcept override
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run()
    {
        using Clock = std::chrono::steady_clock;
        const auto begin = Clock::now();
        uint64_t moved = 0;
        std::vector<int16_t> chunk;
        std::vector<int16_t> resampled;
        while (!m_stopping) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
            const uint64_t due = uint64_t(elapsed * m_rate);
            if (due <= moved)
                continue;
            chunk.assign(std::size_t(due - moved), 0);
            if (m_capture) {
                for (int16_t &sample : chunk)
                    sample = m_position < m_source.size() ? m_source[m_position++] : 0;
                m_capture->push(chunk.data(), chunk.size());
            } else {
                m_playback->pull(chunk.data(), chunk.size());
                resampled.clear();
                m_toFile.process(chunk.data(), chunk.size(), resampled);
                m_writer->append(resampled.data(), resampled.size());
            }
            moved = due;
        }
    }

    FileBackend *m_owner;
    uint32_t m_rate;
    CaptureFeed *m_capture;
    std::vector<int16_t> m_source; // the input file at the device rate
    std::size_t m_position = 0;
    PlaybackFeed *m_playback;
    std::unique_ptr<WavWriter> m_writer;
    LinearResampler m_toFile;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

FileBackend::FileBackend(const QString &inputPath, const QString &outputPath)
    : m_outputPath(outputPath)
{
    if (!inputPath.isEmpty())
        m_hasInput = readWavFile(inputPath, m_input, &m_inputError);
}

FileBackend::~FileBackend() = default;

QString FileBackend::name() const
{
    return QStringLiteral("file");
}

unsigned FileBackend::inputDeviceCount()
{
    return m_hasInput ? 1 : 0;
}

unsigned FileBackend::outputDeviceCount()
{
    return m_outputPath.isEmpty() ? 0 : 1;
}

MMRESULT FileBackend::openInput(const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream)
{
    if (!m_hasInput)
        return MMSYSERR_BADDEVICEID;
    {
        std::lock_guard lock(m_mutex);
        if (m_inputBusy)
            return MMSYSERR_ALLOCATED;
        m_inputBusy = true;
    }
    std::vector<int16_t> source;
    LinearResampler(m_input.rate, request.pcmRate).process(m_input.samples.data(), m_input.samples.size(), source);
    stream = std::make_unique<FileStream>(this, request.pcmRate, &feed, std::move(source), nullptr, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT FileBackend::openOutput(
    const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream)
{
    if (m_outputPath.isEmpty())
        return MMSYSERR_BADDEVICEID;
    {
        std::lock_guard lock(m_mutex);
        if (m_outputBusy)
            return MMSYSERR_ALLOCATED;
        m_outputBusy = true;
    }
    auto writer = std::make_unique<WavWriter>();
    if (!writer->open(m_outputPath, request.pcmRate, m_outputCreated)) {
        streamGone(false);
        return MMSYSERR_ERROR;
    }
    m_outputCreated = true;
    stream = std::make_unique<FileStream>(
        this, request.pcmRate, nullptr, std::vector<int16_t>(), &feed, std::move(writer));
    return MMSYSERR_NOERROR;
}

void FileBackend::streamGone(bool input)
{
    std::lock_guard lock(m_mutex);
    (input ? m_inputBusy : m_outputBusy) = false;
}

} // namespace wave
