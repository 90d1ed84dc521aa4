#include "platform/profile/profile.h"

#include <QFile>
#include <QSaveFile>

#include <optional>
#include <vector>

namespace platform::profile {

namespace {

struct Line
{
    QByteArray text; // without its line ending
    QByteArray ending; // "\n", "\r\n" or empty for a last line without one
};

std::vector<Line> splitLines(const QByteArray &data)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype newline = data.indexOf('\n', start);
        if (newline < 0) {
            lines.push_back({ data.mid(start), {} });
            break;
        }
        const bool crlf = newline > start && data[newline - 1] == '\r';
        const qsizetype end = crlf ? newline - 1 : newline;
        lines.push_back({ data.mid(start, end - start), crlf ? QByteArray("\r\n") : QByteArray("\n") });
        start = newline + 1;
    }
    return lines;
}

// The name inside "[...]" when the line is a section header.
std::optional<QString> sectionName(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (!trimmed.startsWith('['))
        return std::nullopt;
    qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        close = trimmed.size();
    return QString::fromUtf8(trimmed.mid(1, close - 1)).trimmed();
}

struct KeyLine
{
    QString key;
    QByteArray value;
};

std::optional<KeyLine> keyLine(const QByteArray &line)
{
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    return KeyLine { QString::fromUtf8(line.left(equals)).trimmed(), line.mid(equals + 1).trimmed() };
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section lies: its header line and the first line after it (the next header or the end).
struct SectionSpan
{
    size_t header = 0;
    size_t end = 0;
};

std::optional<SectionSpan> findSection(const std::vector<Line> &lines, const QString &section)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::optional<QString> name = sectionName(lines[i].text);
        if (!name || !sameName(*name, section.trimmed()))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && !sectionName(lines[end].text))
            ++end;
        return SectionSpan { i, end };
    }
    return std::nullopt;
}

std::optional<size_t> findKey(const std::vector<Line> &lines, const SectionSpan &span, const QString &key)
{
    for (size_t i = span.header + 1; i < span.end; ++i) {
        const std::optional<KeyLine> entry = keyLine(lines[i].text);
        if (entry && sameName(entry->key, key.trimmed()))
            return i;
    }
    return std::nullopt;
}

QByteArray unquoted(const QByteArray &value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

bool holdsLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

bool writable(const QString &section, const QString &key, const QString &value)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty())
        return false;
    if (holdsLineBreak(section) || holdsLineBreak(key) || holdsLineBreak(value))
        return false;
    return !key.contains(QLatin1Char('=')) && !section.contains(QLatin1Char(']'));
}

} // namespace

QString getPrivateProfileString(
    const QString &section, const QString &key, const QString &defaultValue, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    const std::vector<Line> lines = splitLines(file.readAll());
    const std::optional<SectionSpan> span = findSection(lines, section);
    if (!span)
        return defaultValue;
    const std::optional<size_t> index = findKey(lines, *span, key);
    if (!index)
        return defaultValue;
    return QString::fromUtf8(unquoted(keyLine(lines[*index].text)->value)).left(kMaxValueLength);
}

bool writePrivateProfileString(const QString &section, const QString &key, const QString &value, const QString &path)
{
    if (!writable(section, key, value))
        return false;
    std::vector<Line> lines;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false;
        lines = splitLines(existing.readAll());
        existing.close();
    }
    QByteArray eol("\n");
    for (const Line &line : lines) {
        if (!line.ending.isEmpty()) {
            eol = line.ending;
            break;
        }
    }
    const QByteArray entry = key.trimmed().toUtf8() + '=' + value.toUtf8();

    // Lines are inserted after `after`, which must then end in a line break.
    auto insertAfter = [&](size_t after, std::vector<Line> added) {
        if (lines[after].ending.isEmpty())
            lines[after].ending = eol;
        lines.insert(lines.begin() + qsizetype(after) + 1, added.begin(), added.end());
    };
    if (const std::optional<SectionSpan> span = findSection(lines, section)) {
        if (const std::optional<size_t> index = findKey(lines, *span, key)) {
            lines[*index].text = entry;
        } else {
            size_t last = span->end - 1;
            while (last > span->header && lines[last].text.trimmed().isEmpty())
                --last;
            insertAfter(last, { { entry, eol } });
        }
    } else {
        std::vector<Line> added { { '[' + section.trimmed().toUtf8() + ']', eol }, { entry, eol } };
        if (lines.empty())
            lines = std::move(added);
        else {
            if (!lines.back().text.trimmed().isEmpty())
                added.insert(added.begin(), Line { {}, eol });
            insertAfter(lines.size() - 1, std::move(added));
        }
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const Line &line : lines) {
        file.write(line.text);
        file.write(line.ending);
    }
    return file.commit();
}

} // namespace platform::profile
