// GIF decoding and encoding speed of this codec against giflib on the same images: a large noisy
// 8-bit image, a photo-like gradient and a small animation. Prints, after the usual table, the
// ratio giflib time / our time (CPU time, median of repetitions when asked) for each (above 1:
// ours is faster).
#include "framework/memorystream.h"
#include "images/gifimage.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Frame
{
    int width, height;
    std::vector<uchar> pixels; // indices, rows from the top
};

struct Picture
{
    std::string name;
    std::vector<Frame> frames;
    std::vector<images::TColor> colors; // 256
    QByteArray gif; // written by giflib, decoded by both
    std::vector<images::TBitmap> bitmaps; // the frames as our bitmaps
};

std::vector<images::TColor> palette(unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<images::TColor> colors;
    for (int i = 0; i < 256; ++i)
        colors.push_back(random() & 0xFFFFFF);
    return colors;
}

int writeToMemory(GifFileType *gif, const GifByteType *buffer, int count)
{
    static_cast<QByteArray *>(gif->UserData)->append(reinterpret_cast<const char *>(buffer), count);
    return count;
}

struct Input
{
    const QByteArray *bytes;
    qsizetype pos;
};

int readFromMemory(GifFileType *gif, GifByteType *buffer, int count)
{
    auto *in = static_cast<Input *>(gif->UserData);
    const int n = int(std::min<qsizetype>(count, in->bytes->size() - in->pos));
    std::memcpy(buffer, in->bytes->constData() + in->pos, size_t(n));
    in->pos += n;
    return n;
}

QByteArray giflibEncode(const Picture &picture)
{
    QByteArray out;
    out.reserve(1 << 20);
    int error = 0;
    GifFileType *gif = EGifOpen(&out, writeToMemory, &error);
    std::vector<GifColorType> table;
    for (images::TColor c : picture.colors)
        table.push_back(GifColorType { GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c) });
    ColorMapObject *map = GifMakeMapObject(256, table.data());
    EGifPutScreenDesc(gif, picture.frames[0].width, picture.frames[0].height, 8, 0, map);
    for (const Frame &frame : picture.frames) {
        EGifPutImageDesc(gif, 0, 0, frame.width, frame.height, false, nullptr);
        for (int y = 0; y < frame.height; ++y)
            EGifPutLine(gif, const_cast<uchar *>(frame.pixels.data()) + size_t(y) * size_t(frame.width), frame.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

void giflibDecode(const QByteArray &bytes)
{
    Input input { &bytes, 0 };
    int error = 0;
    GifFileType *gif = DGifOpen(&input, readFromMemory, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK)
        std::abort();
    benchmark::DoNotOptimize(gif->SavedImages[gif->ImageCount - 1].RasterBits[0]);
    DGifCloseFile(gif, &error);
}

void ourDecode(const QByteArray &bytes)
{
    images::TGIFImage image;
    framework::MemoryStream stream(bytes);
    image.LoadFromStream(stream);
    for (int i = 0; i < image.FrameCount(); ++i)
        benchmark::DoNotOptimize(image.Frame(i).FrameBitmap().bits().constData());
}

QByteArray ourEncode(const Picture &picture)
{
    images::TGIFImage image;
    for (const images::TBitmap &bitmap : picture.bitmaps)
        image.AddFrame(bitmap);
    framework::MemoryStream stream;
    image.SaveToStream(stream);
    return stream.bytes();
}

Picture makePicture(std::string name, std::vector<Frame> frames, unsigned seed)
{
    Picture picture { std::move(name), std::move(frames), palette(seed), {}, {} };
    for (const Frame &frame : picture.frames) {
        images::TBitmap bitmap(frame.width, frame.height, 8);
        bitmap.setPalette(QList<images::TColor>(picture.colors.begin(), picture.colors.end()));
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(bitmap.scanLine(y), frame.pixels.data() + size_t(y) * size_t(frame.width), size_t(frame.width));
        picture.bitmaps.push_back(bitmap);
    }
    picture.gif = giflibEncode(picture);
    return picture;
}

std::vector<Picture> &pictures()
{
    static std::vector<Picture> all = [] {
        std::vector<Picture> list;
        std::mt19937 random(42);
        Frame noise { 1024, 1024, std::vector<uchar>(1024 * 1024) };
        for (uchar &p : noise.pixels)
            p = uchar(random());
        list.push_back(makePicture("noise 1024x1024", { noise }, 1));

        // A photo-like gradient: smooth shading with a little grain.
        Frame photo { 1024, 768, {} };
        for (int y = 0; y < 768; ++y)
            for (int x = 0; x < 1024; ++x) {
                const double v = 96 + 80 * std::sin(x / 140.0) * std::cos(y / 110.0) + (x + y) / 40.0;
                photo.pixels.push_back(uchar(std::clamp(int(v) + int(random() % 3), 0, 255)));
            }
        list.push_back(makePicture("gradient 1024x768", { photo }, 2));

        std::vector<Frame> animation;
        for (int f = 0; f < 24; ++f) {
            Frame frame { 96, 96, std::vector<uchar>(96 * 96, 7) };
            for (int y = 0; y < 96; ++y)
                for (int x = 0; x < 96; ++x) {
                    const int dx = x - 48 - int(30 * std::cos(f / 4.0)), dy = y - 48 - int(30 * std::sin(f / 4.0));
                    if (dx * dx + dy * dy < 200)
                        frame.pixels[size_t(y * 96 + x)] = uchar(200 + (dx + dy + f) % 40);
                    else if ((x / 12 + y / 12) % 2)
                        frame.pixels[size_t(y * 96 + x)] = 30;
                }
            animation.push_back(std::move(frame));
        }
        list.push_back(makePicture("animation 24x96x96", animation, 3));
        return list;
    }();
    return all;
}

// Keeps each benchmark's real time per iteration for the ratio summary.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        // With repetitions the median stands for the benchmark; without, the single run does.
        for (const Run &run : runs) {
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[name] = run.GetAdjustedCPUTime();
            else if (run.run_type == Run::RT_Iteration)
                times[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double time(const std::string &name) const
    {
        const auto median = medians.find(name);
        if (median != medians.end())
            return median->second;
        const auto single = times.find(name);
        return single != times.end() ? single->second : 0.0;
    }

private:
    std::map<std::string, double> times;
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> names;
    for (const Picture &picture : pictures()) {
        // Our output must decode with giflib, or the comparison means nothing.
        giflibDecode(ourEncode(picture));
        const Picture *p = &picture;
        benchmark::RegisterBenchmark(("decode/ours/" + picture.name).c_str(), [p](benchmark::State &state) {
            for (auto _ : state)
                ourDecode(p->gif);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode/giflib/" + picture.name).c_str(), [p](benchmark::State &state) {
            for (auto _ : state)
                giflibDecode(p->gif);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode/ours/" + picture.name).c_str(), [p](benchmark::State &state) {
            for (auto _ : state)
                benchmark::DoNotOptimize(ourEncode(*p).size());
            state.counters["bytes"] = double(ourEncode(*p).size());
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode/giflib/" + picture.name).c_str(), [p](benchmark::State &state) {
            for (auto _ : state)
                benchmark::DoNotOptimize(giflibEncode(*p).size());
            state.counters["bytes"] = double(giflibEncode(*p).size());
        })->Unit(benchmark::kMillisecond);
        names.push_back(picture.name);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nSpeed ratio giflib time / our time (above 1: ours is faster)\n");
    for (const std::string &name : names)
        for (const char *direction : { "decode", "encode" }) {
            const std::string ours = std::string(direction) + "/ours/" + name;
            const std::string theirs = std::string(direction) + "/giflib/" + name;
            if (reporter.time(ours) > 0 && reporter.time(theirs) > 0)
                std::printf(
                    "  %-6s %-20s %5.2f\n", direction, name.c_str(), reporter.time(theirs) / reporter.time(ours));
        }
    benchmark::Shutdown();
    return 0;
}
