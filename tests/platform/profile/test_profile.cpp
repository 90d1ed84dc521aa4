#include "platform/profile/profile.h"

#include "support/files.h"
#include "support/printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform::profile;

namespace {

class ProfileTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("tobrel.dat")); }
    void store(const QByteArray &text) { ASSERT_TRUE(testsupport::writeFile(path(), text)); }
    QByteArray stored() const { return QFile::exists(path()) ? testsupport::readFile(path()) : "<missing>"; }
    QString read(const QString &section, const QString &key) const
    {
        return getPrivateProfileString(section, key, QStringLiteral("<default>"), path());
    }

    QTemporaryDir m_dir;
};

TEST_F(ProfileTest, ReadsNamesWithoutCaseBlanksAndQuotes)
{
    store("; settings\r\n"
          "[Other]\r\n"
          "Codec=9\r\n"
          "[  voxhall SETTINGS ]\r\n"
          "  codec  =  3  \r\n"
          "Port=\"0xC041\"\r\n"
          "Mode='2\r\n"
          "noequals\r\n"
          "Volume=\r\n"
          "Codec=4\r\n"
          "[Voxhall Settings]\r\n"
          "Extra=1\n");
    struct Case
    {
        const char *key;
        const char *expected;
    } cases[] = {
        { "CODEC", "3" }, // first line of the key, in the first section of the name
        { "Port", "0xC041" }, // matching quotes removed
        { "Mode", "'2" }, // a lone quote kept
        { "Volume", "" }, // present but empty is not the default
        { "noequals", "<default>" },
        { "Extra", "<default>" }, // a later section of the same name is not read
        { "Missing", "<default>" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(read(QStringLiteral("Voxhall Settings"), QString::fromLatin1(c.key)), QLatin1String(c.expected))
            << c.key;
    EXPECT_EQ(read(QStringLiteral("Nowhere"), QStringLiteral("Codec")), QStringLiteral("<default>"));
}

TEST_F(ProfileTest, MissingOrUnreadableFileGivesTheDefault)
{
    EXPECT_EQ(read(QStringLiteral("S"), QStringLiteral("K")), QStringLiteral("<default>"));
    EXPECT_EQ(getPrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("d"), m_dir.path()),
        QStringLiteral("d"));
}

TEST_F(ProfileTest, LongValuesAreCutAtTheBufferSize)
{
    store("[S]\nK=" + QByteArray(5000, 'x') + "\n");
    EXPECT_EQ(read(QStringLiteral("S"), QStringLiteral("K")).size(), kMaxValueLength);
    ASSERT_TRUE(writePrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), QString(3000, 'y'), path()));
    EXPECT_EQ(read(QStringLiteral("S"), QStringLiteral("K")), QString(kMaxValueLength, 'y'));
}

TEST_F(ProfileTest, WritesCreateFileAndSectionAndKeepEverythingElse)
{
    struct Case
    {
        const char *name;
        QByteArray before;
        const char *section;
        const char *key;
        QByteArray after;
    } cases[] = {
        { "new file", "<missing>", "Voxhall Settings", "Codec", "[Voxhall Settings]\nCodec=7\n" },
        { "key line rewritten in place, its line ending kept", "; c\r\n[voxhall settings]\r\n codec = 1\r\nPort=2\r\n",
            "Voxhall Settings", "CODEC", "; c\r\n[voxhall settings]\r\nCODEC=7\r\nPort=2\r\n" },
        { "new key after the section's last line", "[A]\nx=1\n\n[B]\ny=2\n", "a", "z", "[A]\nx=1\nz=7\n\n[B]\ny=2\n" },
        { "new section at the end, in the file's line style", "[A]\r\nx=1", "B", "k",
            "[A]\r\nx=1\r\n\r\n[B]\r\nk=7\r\n" },
        { "only the first section of the name", "[A]\nk=1\n[A]\nk=2\n", "A", "k", "[A]\nk=7\n[A]\nk=2\n" },
    };
    for (const Case &c : cases) {
        QFile::remove(path());
        if (c.before != "<missing>")
            store(c.before);
        ASSERT_TRUE(writePrivateProfileString(
            QString::fromLatin1(c.section), QString::fromLatin1(c.key), QStringLiteral("7"), path()))
            << c.name;
        EXPECT_EQ(stored(), c.after) << c.name;
        EXPECT_EQ(read(QString::fromLatin1(c.section), QString::fromLatin1(c.key)), QStringLiteral("7")) << c.name;
    }
}

TEST_F(ProfileTest, RefusedWritesLeaveTheFileAsItWas)
{
    store("[S]\nK=1\n");
    const struct
    {
        QString section, key, value, path;
    } refused[] = {
        { "S", "K", "1\nInjected=2", path() },
        { "S", "K=", "2", path() },
        { "S]", "K", "2", path() },
        { "", "K", "2", path() },
        { "S", " ", "2", path() },
        { "S", "K", "2", m_dir.path() }, // a folder
        { "S", "K", "2", m_dir.filePath(QStringLiteral("missing/tobrel.dat")) },
    };
    for (const auto &r : refused) {
        EXPECT_FALSE(writePrivateProfileString(r.section, r.key, r.value, r.path))
            << qPrintable(r.section + '|' + r.key + '|' + r.value);
        EXPECT_EQ(stored(), QByteArray("[S]\nK=1\n"));
    }
    EXPECT_FALSE(QDir(m_dir.filePath(QStringLiteral("missing"))).exists());
}

} // namespace
