#pragma once

#include "images/bitmap.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// giflib as an independent decoder and encoder, and ImageMagick as an independent encoder.
namespace gifpeer {

struct Frame
{
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    bool localTable = false;
    std::vector<images::TColor> colors; // the table in effect
    std::vector<uchar> pixels; // indices, rows in display order
    int transparent = -1;
    int delay = 0; // hundredths
    int disposal = 0;
    // The extension blocks before the image as giflib reads them: label, then the data sub-blocks.
    std::vector<std::pair<int, QByteArrayList>> extensions;
};

struct File
{
    bool ok = false;
    int error = 0;
    int width = 0, height = 0;
    std::vector<Frame> frames;
};

File decode(const QByteArray &gif);

// One frame per bitmap (8-bit indices), with a local table each when localTables.
struct EncodeFrame
{
    int width = 0, height = 0;
    std::vector<uchar> pixels;
    std::vector<images::TColor> colors; // a power of two entries
    bool interlaced = false;
};
QByteArray encode(const std::vector<EncodeFrame> &frames, bool localTables);

// Runs /usr/bin/convert with the arguments; the output is the last argument. Empty when the
// program is missing or failed.
QByteArray imageMagick(const QStringList &arguments, const QString &outputName);
bool haveImageMagick();
// Runs one of giflib's tools as a filter (stdin to stdout). Empty when it is missing or failed.
QByteArray giflibTool(const QString &program, const QStringList &arguments, const QByteArray &input);

// The indices of a bitmap (1, 4 or 8 bits), rows from the top.
std::vector<uchar> indices(const images::TBitmap &bitmap);
// An indexed bitmap from indices and colours.
images::TBitmap indexedBitmap(
    int width, int height, int depth, const std::vector<uchar> &pixels, const std::vector<images::TColor> &colors);

} // namespace gifpeer
