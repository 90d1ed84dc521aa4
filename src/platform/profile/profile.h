#pragma once

// Private-profile (INI) files with kernel32's semantics:
//
//   [Section]
//   Key=Value
//
// Section and key names compare without regard to letter case; blanks around names and values
// are ignored; a value enclosed in matching quotes ("..." or '...') is read without them. The first
// section of a name and, within it, the first line of a key count. Lines that are neither (comments,
// blank lines, text without "=") are kept as they are, as are the other sections and keys.
//
// Files are UTF-8 text; lines end in LF or CR LF (a rewrite keeps each line's own ending and
// gives new lines the file's style). Each call opens the file, does its work and closes it again;
// a rewrite replaces the file in one step, so a failed write leaves the old file whole. Any thread
// (the calls share no state), but no locking between processes.

#include <QString>

namespace platform::profile {

// The longest value a read returns; longer values are cut (a 2048-byte buffer with its zero).
constexpr int kMaxValueLength = 2047;

// The value of key in section, or defaultValue when the file, the section or the key is missing.
QString getPrivateProfileString(
    const QString &section, const QString &key, const QString &defaultValue, const QString &path);

// Sets key in section to value: the key's line is rewritten in place, a new key goes after the
// section's last line, and a missing section is added at the end (a missing file is created; its
// folder must exist). False when the file cannot be read or written, and for names or a value
// that the format cannot hold (an empty name, a line break anywhere, "=" in a key, "]" in a
// section name); the file is then left as it was.
bool writePrivateProfileString(const QString &section, const QString &key, const QString &value, const QString &path);

} // namespace platform::profile
