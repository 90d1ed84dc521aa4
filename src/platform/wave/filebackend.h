#pragma once

#include "platform/wave/backend.h"
#include "platform/wave/wavfile.h"

#include <mutex>

namespace wave {

// Devices made of WAV files, for headless runs and end-to-end tests, paced by a real-time clock:
// the input plays a PCM WAV file as the microphone (from its start at every open, resampled to
// the device rate, silence after its end); the output writes what it plays, silence included,
// to a 16-bit mono WAV file, created at the first open and continued by later ones at the rate
// of the first. An empty path, or an input file that cannot be read, means no such device.
// One stream per direction at a time: a second open gets MMSYSERR_ALLOCATED.
class FileBackend : public WaveBackend
{
public:
    FileBackend(const QString &inputPath, const QString &outputPath);
    ~FileBackend() override;

    QString name() const override;
    unsigned inputDeviceCount() override;
    unsigned outputDeviceCount() override;
    MMRESULT openInput(
        const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream) override;
    MMRESULT openOutput(
        const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream) override;

    // Why the input file could not be read (empty when it could).
    QString inputError() const { return m_inputError; }

private:
    friend class FileStream;
    void streamGone(bool input);

    WavSound m_input;
    bool m_hasInput = false;
    QString m_inputError;
    QString m_outputPath;
    bool m_outputCreated = false;

    std::mutex m_mutex;
    bool m_inputBusy = false;
    bool m_outputBusy = false;
};

} // namespace wave
