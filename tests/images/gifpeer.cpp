#include "gifpeer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gif_lib.h>

#include <cstring>

namespace gifpeer {

namespace {

struct Input
{
    const QByteArray *bytes;
    qsizetype pos = 0;
};

int readFromMemory(GifFileType *gif, GifByteType *buffer, int count)
{
    auto *in = static_cast<Input *>(gif->UserData);
    const int n = int(std::min<qsizetype>(count, in->bytes->size() - in->pos));
    std::memcpy(buffer, in->bytes->constData() + in->pos, size_t(n));
    in->pos += n;
    return n;
}

int writeToMemory(GifFileType *gif, const GifByteType *buffer, int count)
{
    static_cast<QByteArray *>(gif->UserData)->append(reinterpret_cast<const char *>(buffer), count);
    return count;
}

std::vector<images::TColor> colorsOf(const ColorMapObject *map)
{
    std::vector<images::TColor> colors;
    if (map)
        for (int i = 0; i < map->ColorCount; ++i)
            colors.push_back(images::rgbColor(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    return colors;
}

ColorMapObject *mapOf(const std::vector<images::TColor> &colors)
{
    std::vector<GifColorType> table;
    for (images::TColor c : colors)
        table.push_back(GifColorType { GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c) });
    return GifMakeMapObject(int(table.size()), table.data());
}

} // namespace

File decode(const QByteArray &gif)
{
    File file;
    Input input { &gif };
    int error = 0;
    GifFileType *g = DGifOpen(&input, readFromMemory, &error);
    if (!g) {
        file.error = error;
        return file;
    }
    file.ok = DGifSlurp(g) == GIF_OK;
    file.error = g->Error;
    file.width = g->SWidth;
    file.height = g->SHeight;
    for (int i = 0; file.ok && i < g->ImageCount; ++i) {
        const SavedImage &image = g->SavedImages[i];
        Frame frame;
        frame.left = image.ImageDesc.Left;
        frame.top = image.ImageDesc.Top;
        frame.width = image.ImageDesc.Width;
        frame.height = image.ImageDesc.Height;
        frame.interlaced = image.ImageDesc.Interlace;
        frame.localTable = image.ImageDesc.ColorMap != nullptr;
        frame.colors = colorsOf(image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : g->SColorMap);
        frame.pixels.assign(image.RasterBits, image.RasterBits + size_t(frame.width) * size_t(frame.height));
        for (int e = 0; e < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock &block = image.ExtensionBlocks[e];
            const QByteArray bytes(reinterpret_cast<const char *>(block.Bytes), block.ByteCount);
            if (block.Function == CONTINUE_EXT_FUNC_CODE && !frame.extensions.empty())
                frame.extensions.back().second.append(bytes);
            else
                frame.extensions.push_back({ block.Function, { bytes } });
        }
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(g, i, &gcb) == GIF_OK) {
            frame.transparent = gcb.TransparentColor;
            frame.delay = gcb.DelayTime;
            frame.disposal = gcb.DisposalMode;
        }
        file.frames.push_back(std::move(frame));
    }
    DGifCloseFile(g, &error);
    return file;
}

QByteArray encode(const std::vector<EncodeFrame> &frames, bool localTables)
{
    QByteArray out;
    int error = 0;
    GifFileType *g = EGifOpen(&out, writeToMemory, &error);
    if (!g)
        return {};
    int width = 0, height = 0;
    for (const EncodeFrame &f : frames) {
        width = std::max(width, f.width);
        height = std::max(height, f.height);
    }
    ColorMapObject *global = localTables ? nullptr : mapOf(frames.front().colors);
    bool ok = EGifPutScreenDesc(g, width, height, 8, 0, global) == GIF_OK;
    for (const EncodeFrame &f : frames) {
        ColorMapObject *local = localTables ? mapOf(f.colors) : nullptr;
        ok = ok && EGifPutImageDesc(g, 0, 0, f.width, f.height, f.interlaced, local) == GIF_OK;
        std::vector<uchar> rows(f.pixels);
        if (f.interlaced) {
            // giflib takes the rows in the order they are stored.
            static const int start[4] = { 0, 4, 2, 1 }, step[4] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4 && ok; ++pass)
                for (int y = start[pass]; y < f.height && ok; y += step[pass])
                    ok = EGifPutLine(g, rows.data() + size_t(y) * size_t(f.width), f.width) == GIF_OK;
        } else {
            for (int y = 0; y < f.height && ok; ++y)
                ok = EGifPutLine(g, rows.data() + size_t(y) * size_t(f.width), f.width) == GIF_OK;
        }
        if (local)
            GifFreeMapObject(local);
    }
    ok = EGifCloseFile(g, &error) == GIF_OK && ok;
    if (global)
        GifFreeMapObject(global);
    return ok ? out : QByteArray();
}

bool haveImageMagick()
{
    return QFile::exists(QStringLiteral("/usr/bin/convert"));
}

QByteArray imageMagick(const QStringList &arguments, const QString &outputName)
{
    QTemporaryDir dir;
    QProcess convert;
    convert.setWorkingDirectory(dir.path());
    convert.start(QStringLiteral("/usr/bin/convert"), arguments + QStringList { outputName });
    if (!convert.waitForFinished(30000) || convert.exitCode() != 0)
        return {};
    QFile file(QDir(dir.path()).filePath(outputName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray giflibTool(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    QProcess tool;
    tool.start(QStringLiteral("/usr/bin/") + program, arguments);
    if (!tool.waitForStarted(10000))
        return {};
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return {};
    return tool.readAllStandardOutput();
}

std::vector<uchar> indices(const images::TBitmap &bitmap)
{
    std::vector<uchar> out;
    out.reserve(size_t(bitmap.width()) * size_t(bitmap.height()));
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            out.push_back(uchar(bitmap.pixelIndex(x, y)));
    return out;
}

images::TBitmap indexedBitmap(
    int width, int height, int depth, const std::vector<uchar> &pixels, const std::vector<images::TColor> &colors)
{
    images::TBitmap bitmap(width, height, depth);
    bitmap.setPalette(QList<images::TColor>(colors.begin(), colors.end()));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.setPixelIndex(x, y, pixels[size_t(y) * size_t(width) + size_t(x)]);
    return bitmap;
}

} // namespace gifpeer
