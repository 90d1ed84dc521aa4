#include "app/settings.h"

#include "platform/profile/profile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {

const QString kSettingsSection = QStringLiteral("Voxhall Settings");

namespace {

const QString kCodecKey = QStringLiteral("Codec");
const QString kPortKey = QStringLiteral("Port");
const QString kModeKey = QStringLiteral("Mode");
const QString kVolumeKey = QStringLiteral("Volume");
const QString kInputDeviceKey = QStringLiteral("InputDevice");
const QString kOutputDeviceKey = QStringLiteral("OutputDevice");
const QString kPlayoutKey = QStringLiteral("Playout");

std::optional<int32_t> parseHex(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    uint32_t value = 0;
    for (const QChar c : digits) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + uint32_t(digit);
    }
    return int32_t(value);
}

std::optional<int32_t> parseDecimal(QStringView digits, bool negative)
{
    if (digits.isEmpty())
        return std::nullopt;
    int64_t value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX)
        return std::nullopt;
    return int32_t(value);
}

int32_t readValue(const QString &path, const QString &key, int32_t defaultValue)
{
    const QString text = platform::profile::getPrivateProfileString(kSettingsSection, key, QString(), path);
    return parseSettingValue(text).value_or(defaultValue);
}

// The file format drops blanks around a value and one pair of enclosing quotes.
QString storedName(const QString &name)
{
    const bool quoted
        = name.size() >= 2 && (name.front() == u'"' || name.front() == u'\'') && name.back() == name.front();
    if (name.trimmed() != name || quoted)
        return QLatin1Char('"') + name + QLatin1Char('"');
    return name;
}

void readPlayout(const QString &path, Settings &settings)
{
    settings.Playout = readValue(path, kPlayoutKey, Settings().Playout);
}

bool writePlayout(const QString &path, const Settings &settings)
{
    const QString absent = QStringLiteral("\x01");
    const bool stored
        = platform::profile::getPrivateProfileString(kSettingsSection, kPlayoutKey, absent, path) != absent;
    if (settings.Playout == Settings().Playout && !stored)
        return true;
    return platform::profile::writePrivateProfileString(
        kSettingsSection, kPlayoutKey, QString::number(settings.Playout), path);
}

} // namespace

QString settingsFilePath(const QString &programPath, const QString &configHome)
{
    const QFileInfo program(programPath);
    const QString fileName = program.completeBaseName() + QStringLiteral(".dat");
    const QFileInfo folder(program.absolutePath());
    if (folder.isDir() && folder.isWritable())
        return QDir(program.absolutePath()).filePath(fileName);
    return QDir(configHome).filePath(QStringLiteral("tobrel/") + fileName);
}

QString settingsFilePath()
{
    return settingsFilePath(QCoreApplication::applicationFilePath(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

std::optional<int32_t> parseSettingValue(const QString &text)
{
    const QStringView view(text);
    if (view.size() > 2 && (view.startsWith(QLatin1String("0x")) || view.startsWith(QLatin1String("0X"))))
        return parseHex(view.mid(2));
    QStringView rest = view;
    const bool negative = rest.startsWith(QLatin1Char('-'));
    if (negative || rest.startsWith(QLatin1Char('+')))
        rest = rest.mid(1);
    if (rest.startsWith(QLatin1Char('$'))) {
        const std::optional<int32_t> value = parseHex(rest.mid(1));
        if (!value)
            return std::nullopt;
        return negative ? int32_t(0u - uint32_t(*value)) : *value;
    }
    return parseDecimal(rest, negative);
}

Settings readSettings(const QString &path)
{
    const Settings defaults;
    Settings settings;
    settings.Codec = readValue(path, kCodecKey, defaults.Codec);
    settings.Port = readValue(path, kPortKey, defaults.Port);
    if (settings.Port < 1 || settings.Port > 65535)
        settings.Port = defaults.Port;
    settings.Mode = readValue(path, kModeKey, defaults.Mode);
    settings.Volume = readValue(path, kVolumeKey, defaults.Volume);
    readPlayout(path, settings);
    return settings;
}

bool writeSettings(const QString &path, const Settings &settings)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::pair<const QString &, int32_t> values[] = {
        { kCodecKey, settings.Codec },
        { kPortKey, settings.Port },
        { kModeKey, settings.Mode },
        { kVolumeKey, settings.Volume },
    };
    for (const auto &[key, value] : values) {
        if (!platform::profile::writePrivateProfileString(kSettingsSection, key, QString::number(value), path))
            return false;
    }
    return writePlayout(path, settings);
}

DeviceSettings readDeviceSettings(const QString &path)
{
    using platform::profile::getPrivateProfileString;
    return { getPrivateProfileString(kSettingsSection, kInputDeviceKey, QString(), path),
        getPrivateProfileString(kSettingsSection, kOutputDeviceKey, QString(), path) };
}

bool writeDeviceSettings(const QString &path, const DeviceSettings &devices)
{
    using namespace platform::profile;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString absent = QStringLiteral("\n"); // no stored value can hold a line break
    const std::pair<const QString &, const QString &> names[] = {
        { kInputDeviceKey, devices.InputDevice },
        { kOutputDeviceKey, devices.OutputDevice },
    };
    for (const auto &[key, name] : names) {
        if (name.isEmpty() && getPrivateProfileString(kSettingsSection, key, absent, path) == absent)
            continue;
        if (!writePrivateProfileString(kSettingsSection, key, storedName(name), path))
            return false;
    }
    return true;
}

} // namespace app
