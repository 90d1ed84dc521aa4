#include "images/quantize.h"

#include <algorithm>
#include <array>
#include <climits>
#include <unordered_map>
#include <vector>

namespace images {

namespace {

constexpr int kSide = 33; // 32 cells per channel plus the zero plane of the running sums
constexpr int kCells = kSide * kSide * kSide;

inline int cell(int r, int g, int b)
{
    return (r * kSide + g) * kSide + b;
}

struct Box
{
    int r0, r1, g0, g1, b0, b1; // lower bounds exclusive, upper inclusive
    int volume() const { return (r1 - r0) * (g1 - g0) * (b1 - b0); }
};

enum Axis
{
    Red,
    Green,
    Blue
};

// Xiaolin Wu, "Efficient Statistical Computations for Optimal Color Quantization" (Graphics Gems
// II): cumulative moments of the colour histogram let every box's weight, mean and variance be
// read in constant time, so the greedy cuts can be chosen by exact variance reduction.
class WuQuantizer
{
public:
    WuQuantizer()
        : m_weight(kCells, 0)
        , m_red(kCells, 0)
        , m_green(kCells, 0)
        , m_blue(kCells, 0)
        , m_square(kCells, 0.0)
    { }

    void add(TColor c)
    {
        const int r = int(c >> 16 & 0xFF), g = int(c >> 8 & 0xFF), b = int(c & 0xFF);
        const int i = cell((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
        ++m_weight[i];
        m_red[i] += r;
        m_green[i] += g;
        m_blue[i] += b;
        m_square[i] += double(r * r + g * g + b * b);
    }

    // Returns the palette; tag() then gives each colour's entry.
    QList<TColor> build(int maxColors)
    {
        struct Cell
        {
            int index;
            qint64 weight, red, green, blue;
        };
        std::vector<Cell> cells;
        for (int i = 0; i < kCells; ++i)
            if (m_weight[size_t(i)] > 0)
                cells.push_back(
                    Cell { i, m_weight[size_t(i)], m_red[size_t(i)], m_green[size_t(i)], m_blue[size_t(i)] });
        accumulate();
        std::vector<Box> boxes(static_cast<size_t>(maxColors));
        std::vector<double> variance(static_cast<size_t>(maxColors), 0.0);
        boxes[0] = Box { 0, 32, 0, 32, 0, 32 };
        int count = 1;
        int next = 0;
        while (count < maxColors) {
            if (cut(boxes[size_t(next)], boxes[size_t(count)])) {
                variance[size_t(next)] = boxes[size_t(next)].volume() > 1 ? boxVariance(boxes[size_t(next)]) : 0.0;
                variance[size_t(count)] = boxes[size_t(count)].volume() > 1 ? boxVariance(boxes[size_t(count)]) : 0.0;
                ++count;
            } else {
                variance[size_t(next)] = 0.0;
            }
            next = 0;
            double best = variance[0];
            for (int i = 1; i < count; ++i)
                if (variance[size_t(i)] > best) {
                    best = variance[size_t(i)];
                    next = i;
                }
            if (best <= 0.0)
                break;
        }

        m_tag.assign(kCells, 0);
        QList<TColor> palette;
        for (int k = 0; k < count; ++k) {
            const Box &box = boxes[size_t(k)];
            const qint64 w = sum(box, m_weight);
            if (w > 0) {
                const int r = int((sum(box, m_red) + w / 2) / w);
                const int g = int((sum(box, m_green) + w / 2) / w);
                const int b = int((sum(box, m_blue) + w / 2) / w);
                palette.append(rgbColor(r, g, b));
            } else {
                palette.append(0);
            }
            for (int r = box.r0 + 1; r <= box.r1; ++r)
                for (int g = box.g0 + 1; g <= box.g1; ++g)
                    for (int b = box.b0 + 1; b <= box.b1; ++b)
                        m_tag[size_t(cell(r, g, b))] = quint8(k);
        }

        // A few rounds of k-means over the histogram cells: each cell (by its mean colour) moves
        // to its nearest entry and each entry to the mean of its cells. Box cuts are axis-aligned;
        // this pass removes most of the error they leave.
        for (int round = 0; round < 3; ++round) {
            std::vector<qint64> sums(size_t(count) * 4, 0);
            for (const Cell &c : cells) {
                const int r = int(c.red / c.weight), g = int(c.green / c.weight), b = int(c.blue / c.weight);
                int best = 0;
                int bestDistance = INT_MAX;
                for (int k = 0; k < count; ++k) {
                    const TColor p = palette[k];
                    const int dr = r - int(p >> 16 & 0xFF), dg = g - int(p >> 8 & 0xFF), db = b - int(p & 0xFF);
                    const int distance = dr * dr + dg * dg + db * db;
                    if (distance < bestDistance) {
                        bestDistance = distance;
                        best = k;
                    }
                }
                m_tag[size_t(c.index)] = quint8(best);
                qint64 *s = &sums[size_t(best) * 4];
                s[0] += c.weight;
                s[1] += c.red;
                s[2] += c.green;
                s[3] += c.blue;
            }
            for (int k = 0; k < count; ++k) {
                const qint64 *s = &sums[size_t(k) * 4];
                if (s[0] > 0)
                    palette[k] = rgbColor(
                        int((s[1] + s[0] / 2) / s[0]), int((s[2] + s[0] / 2) / s[0]), int((s[3] + s[0] / 2) / s[0]));
            }
        }
        return palette;
    }

    int tag(TColor c) const
    {
        return m_tag[size_t(cell(int(c >> 19 & 0x1F) + 1, int(c >> 11 & 0x1F) + 1, int(c >> 3 & 0x1F) + 1))];
    }

private:
    void accumulate()
    {
        for (int r = 1; r < kSide; ++r) {
            std::array<qint64, kSide> area {}, areaR {}, areaG {}, areaB {};
            std::array<double, kSide> area2 {};
            for (int g = 1; g < kSide; ++g) {
                qint64 line = 0, lineR = 0, lineG = 0, lineB = 0;
                double line2 = 0;
                for (int b = 1; b < kSide; ++b) {
                    const int i = cell(r, g, b);
                    line += m_weight[i];
                    lineR += m_red[i];
                    lineG += m_green[i];
                    lineB += m_blue[i];
                    line2 += m_square[i];
                    area[b] += line;
                    areaR[b] += lineR;
                    areaG[b] += lineG;
                    areaB[b] += lineB;
                    area2[b] += line2;
                    const int below = cell(r - 1, g, b);
                    m_weight[i] = m_weight[below] + area[b];
                    m_red[i] = m_red[below] + areaR[b];
                    m_green[i] = m_green[below] + areaG[b];
                    m_blue[i] = m_blue[below] + areaB[b];
                    m_square[i] = m_square[below] + area2[b];
                }
            }
        }
    }

    template<typename T> static T sum(const Box &x, const std::vector<T> &m)
    {
        return m[cell(x.r1, x.g1, x.b1)] - m[cell(x.r1, x.g1, x.b0)] - m[cell(x.r1, x.g0, x.b1)]
            + m[cell(x.r1, x.g0, x.b0)] - m[cell(x.r0, x.g1, x.b1)] + m[cell(x.r0, x.g1, x.b0)]
            + m[cell(x.r0, x.g0, x.b1)] - m[cell(x.r0, x.g0, x.b0)];
    }

    // The part of the sum that does not depend on where the cut along the axis lies.
    static qint64 bottom(const Box &x, Axis axis, const std::vector<qint64> &m)
    {
        switch (axis) {
        case Red:
            return -m[cell(x.r0, x.g1, x.b1)] + m[cell(x.r0, x.g1, x.b0)] + m[cell(x.r0, x.g0, x.b1)]
                - m[cell(x.r0, x.g0, x.b0)];
        case Green:
            return -m[cell(x.r1, x.g0, x.b1)] + m[cell(x.r1, x.g0, x.b0)] + m[cell(x.r0, x.g0, x.b1)]
                - m[cell(x.r0, x.g0, x.b0)];
        default:
            return -m[cell(x.r1, x.g1, x.b0)] + m[cell(x.r1, x.g0, x.b0)] + m[cell(x.r0, x.g1, x.b0)]
                - m[cell(x.r0, x.g0, x.b0)];
        }
    }

    static qint64 top(const Box &x, Axis axis, int pos, const std::vector<qint64> &m)
    {
        switch (axis) {
        case Red:
            return m[cell(pos, x.g1, x.b1)] - m[cell(pos, x.g1, x.b0)] - m[cell(pos, x.g0, x.b1)]
                + m[cell(pos, x.g0, x.b0)];
        case Green:
            return m[cell(x.r1, pos, x.b1)] - m[cell(x.r1, pos, x.b0)] - m[cell(x.r0, pos, x.b1)]
                + m[cell(x.r0, pos, x.b0)];
        default:
            return m[cell(x.r1, x.g1, pos)] - m[cell(x.r1, x.g0, pos)] - m[cell(x.r0, x.g1, pos)]
                + m[cell(x.r0, x.g0, pos)];
        }
    }

    double boxVariance(const Box &x) const
    {
        const double r = double(sum(x, m_red)), g = double(sum(x, m_green)), b = double(sum(x, m_blue));
        const double w = double(sum(x, m_weight));
        return sum(x, m_square) - (r * r + g * g + b * b) / w;
    }

    double maximize(const Box &x, Axis axis, int first, int last, int &cutAt, qint64 wholeR, qint64 wholeG,
        qint64 wholeB, qint64 wholeW) const
    {
        const qint64 baseR = bottom(x, axis, m_red), baseG = bottom(x, axis, m_green);
        const qint64 baseB = bottom(x, axis, m_blue), baseW = bottom(x, axis, m_weight);
        double best = 0.0;
        cutAt = -1;
        for (int i = first; i < last; ++i) {
            const qint64 halfR = baseR + top(x, axis, i, m_red), halfG = baseG + top(x, axis, i, m_green);
            const qint64 halfB = baseB + top(x, axis, i, m_blue), halfW = baseW + top(x, axis, i, m_weight);
            if (halfW == 0)
                continue;
            const qint64 otherW = wholeW - halfW;
            if (otherW == 0)
                continue;
            double value = (double(halfR) * halfR + double(halfG) * halfG + double(halfB) * halfB) / double(halfW);
            const double otherR = double(wholeR - halfR), otherG = double(wholeG - halfG);
            const double otherB = double(wholeB - halfB);
            value += (otherR * otherR + otherG * otherG + otherB * otherB) / double(otherW);
            if (value > best) {
                best = value;
                cutAt = i;
            }
        }
        return best;
    }

    bool cut(Box &a, Box &b) const
    {
        const qint64 wholeR = sum(a, m_red), wholeG = sum(a, m_green), wholeB = sum(a, m_blue);
        const qint64 wholeW = sum(a, m_weight);
        int cutR, cutG, cutB;
        const double maxR = maximize(a, Red, a.r0 + 1, a.r1, cutR, wholeR, wholeG, wholeB, wholeW);
        const double maxG = maximize(a, Green, a.g0 + 1, a.g1, cutG, wholeR, wholeG, wholeB, wholeW);
        const double maxB = maximize(a, Blue, a.b0 + 1, a.b1, cutB, wholeR, wholeG, wholeB, wholeW);
        Axis axis;
        if (maxR >= maxG && maxR >= maxB) {
            if (cutR < 0)
                return false;
            axis = Red;
        } else if (maxG >= maxR && maxG >= maxB) {
            axis = Green;
        } else {
            axis = Blue;
        }
        b = a;
        switch (axis) {
        case Red:
            a.r1 = b.r0 = cutR;
            break;
        case Green:
            a.g1 = b.g0 = cutG;
            break;
        case Blue:
            a.b1 = b.b0 = cutB;
            break;
        }
        return true;
    }

    std::vector<qint64> m_weight, m_red, m_green, m_blue;
    std::vector<double> m_square;
    std::vector<quint8> m_tag;
};

template<typename Fn> void forEachPixel(const TBitmap &source, Fn &&fn)
{
    const int step = source.bitsPerPixel() / 8;
    for (int y = 0; y < source.height(); ++y) {
        const uchar *p = source.scanLine(y);
        for (int x = 0; x < source.width(); ++x, p += step)
            fn(x, y, rgbColor(p[2], p[1], p[0]));
    }
}

} // namespace

TBitmap reduceTo8Bits(const TBitmap &source, bool grayscale, TColor keep)
{
    if (source.indexed() || source.empty())
        return source;
    TBitmap result(source.width(), source.height(), 8);
    result.transparent = source.transparent;
    result.transparentColor = source.transparentColor;
    const bool keeping = keep != NoneColor;
    const int room = keeping ? 255 : 256;

    if (grayscale) {
        QList<TColor> palette;
        for (int i = 0; i < room; ++i) {
            const int level = i * 255 / (room - 1);
            palette.append(rgbColor(level, level, level));
        }
        if (keeping)
            palette.append(keep);
        result.setPalette(palette);
        forEachPixel(source, [&](int x, int y, TColor c) {
            if (keeping && c == keep) {
                result.scanLine(y)[x] = 255;
                return;
            }
            const int luma = (int(c >> 16 & 0xFF) * 299 + int(c >> 8 & 0xFF) * 587 + int(c & 0xFF) * 114 + 500) / 1000;
            result.scanLine(y)[x] = uchar((luma * (room - 1) + 127) / 255);
        });
        return result;
    }

    // Few colours: an exact palette.
    std::unordered_map<TColor, int> exact;
    bool fits = true;
    for (int y = 0; y < source.height() && fits; ++y) {
        const int step = source.bitsPerPixel() / 8;
        const uchar *p = source.scanLine(y);
        for (int x = 0; x < source.width(); ++x, p += step) {
            const TColor c = rgbColor(p[2], p[1], p[0]);
            if (keeping && c == keep)
                continue;
            if (exact.try_emplace(c, int(exact.size())).second && int(exact.size()) > room) {
                fits = false;
                break;
            }
        }
    }
    QList<TColor> palette;
    if (fits) {
        palette.resize(qsizetype(exact.size()));
        for (const auto &[color, index] : exact)
            palette[index] = color;
        const int keepIndex = int(palette.size());
        if (keeping)
            palette.append(keep);
        forEachPixel(source, [&](int x, int y, TColor c) {
            result.scanLine(y)[x] = uchar(keeping && c == keep ? keepIndex : exact[c]);
        });
    } else {
        WuQuantizer wu;
        forEachPixel(source, [&](int, int, TColor c) {
            if (!keeping || c != keep)
                wu.add(c);
        });
        palette = wu.build(room);
        const int keepIndex = int(palette.size());
        if (keeping)
            palette.append(keep);
        forEachPixel(source, [&](int x, int y, TColor c) {
            result.scanLine(y)[x] = uchar(keeping && c == keep ? keepIndex : wu.tag(c));
        });
    }
    result.setPalette(palette);
    return result;
}

} // namespace images
