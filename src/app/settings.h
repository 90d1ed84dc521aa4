#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace app {

// The four settings the main window keeps, as stored in the settings file's "Voxhall Settings"
// section. Codec is a codec number (1 GSM-6.10 ... 6 PCM-22), Mode 1 full or 2 half duplex, Volume
// the slider value. Out-of-range Codec and Mode values are kept as read and written back unchanged.
struct Settings
{
    int32_t Codec = 1;
    int32_t Port = 49217;
    int32_t Mode = 1;
    int32_t Volume = 50;
    // Extra key "Playout", after the four: 1 for the adaptive playout of the Tools menu; any
    // other value plays as designed and is written back unchanged.
    int32_t Playout = 0;
};

// The sound devices chosen by name (empty: the system default), kept in the same section after
// the four keys as InputDevice and OutputDevice. Names, not numbers, so that a device plugged in
// again is found again.
struct DeviceSettings
{
    QString InputDevice;
    QString OutputDevice;
};

extern const QString kSettingsSection; // "Voxhall Settings"

// Where a program keeps its settings file: beside the program (its name with ".dat" for its
// extension) when that folder is writable, else in the "tobrel" folder of the user's configuration
// folder (XDG_CONFIG_HOME, by default ~/.config). Worked out anew for every read and write, so the
// answer follows the folder's permissions.
QString settingsFilePath(const QString &programPath, const QString &configHome);
// The same for this program (QCoreApplication's file path and the standard configuration folder).
QString settingsFilePath();

// A stored value's text as an integer: "0x"/"0X" followed by hexadecimal digits, a "$" followed by
// hexadecimal digits, or signed decimal; hexadecimal of up to 8 digits wraps into the signed range
// ("$FFFFFFFF" is -1). Nothing for anything else, including decimal beyond 32 bits.
std::optional<int32_t> parseSettingValue(const QString &text);

// Reads the four values; each one missing or unreadable keeps its default. A Port that is no UDP
// port number (1..65535) counts as unreadable: binding it would quietly use another port.
Settings readSettings(const QString &path);

// Writes Codec, Port, Mode and Volume in this order as decimal text, creating the folder, the file
// and the section as needed; then Playout, when it is not 0 or the file holds it already (a file
// of someone who never chose the adaptive playout keeps its four keys). False as soon as one
// write fails.
bool writeSettings(const QString &path, const Settings &settings);

// Reads the two device names; a missing one is the default.
DeviceSettings readDeviceSettings(const QString &path);
// Writes InputDevice, then OutputDevice (after the four keys when they are written first). A key
// is left out while it is not in the file and names the default: a file stays as it was for those
// who never chose a device. A name with blanks or quotes at its ends is written in quotes so that
// it reads back whole. False as soon as one write fails.
bool writeDeviceSettings(const QString &path, const DeviceSettings &devices);

} // namespace app
