#pragma once

#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace wave {

// 16-bit mono sound read from a PCM WAV file (8 or 16 bits, any channel count mixed to mono).
struct WavSound
{
    uint32_t rate = 0;
    std::vector<int16_t> samples;
};

// Reads a PCM WAV file; false with a reason for anything else or a damaged file. Never reads
// past the file's own chunks.
bool readWavFile(const QString &path, WavSound &sound, QString *error = nullptr);

// Linear interpolation from one rate to another, in pieces (keeps its state between calls).
class LinearResampler
{
public:
    LinearResampler(uint32_t fromRate, uint32_t toRate);
    void process(const int16_t *in, std::size_t count, std::vector<int16_t> &out);

private:
    double m_step;
    double m_time = 1.0; // position of the next output after the previous input (1: none yet)
    int16_t m_previous = 0;
    bool m_same;
};

// Writes a 16-bit mono PCM WAV file; the header's sizes are brought up to date after every
// append, so that the file is complete at any moment. Not thread-safe.
class WavWriter
{
public:
    // Opens path for writing (truncate) or, with append, continues a file this class wrote.
    bool open(const QString &path, uint32_t rate, bool append);
    bool isOpen() const { return m_file != nullptr; }
    uint32_t rate() const { return m_rate; }
    void append(const int16_t *samples, std::size_t count);
    void close();

private:
    struct Closer
    {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    void writeHeader();

    std::unique_ptr<std::FILE, Closer> m_fileOwner;
    std::FILE *m_file = nullptr;
    uint32_t m_rate = 0;
    uint64_t m_samples = 0;
};

} // namespace wave
