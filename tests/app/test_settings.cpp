#include "app/settings.h"

#include "support/files.h"
#include "support/printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace app;

namespace {

TEST(SettingsValue, ReadsDecimalAndBothHexadecimalForms)
{
    const struct
    {
        const char *text;
        std::optional<int32_t> value;
    } cases[] = {
        { "49217", 49217 },
        { "007", 7 },
        { "+7", 7 },
        { "-2147483648", INT32_MIN },
        { "2147483647", INT32_MAX },
        { "0xC041", 49217 },
        { "0Xc041", 49217 },
        { "$C041", 49217 },
        { "-$10", -16 },
        { "$FFFFFFFF", -1 },
        { "0x", std::nullopt }, // too short for the 0x form, and not a decimal
        { "0x1FFFFFFFF", std::nullopt },
        { "0x-5", std::nullopt },
        { "2147483648", std::nullopt },
        { "12a", std::nullopt },
        { "letters", std::nullopt },
        { "", std::nullopt },
        { "-", std::nullopt },
        { "$", std::nullopt },
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseSettingValue(QString::fromLatin1(c.text)), c.value) << c.text;
}

class SettingsFile : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("tobrel.dat")); }
    void store(const QByteArray &text) { ASSERT_TRUE(testsupport::writeFile(path(), text)); }
    QTemporaryDir m_dir;
};

TEST_F(SettingsFile, UnreadableValuesFallBackOneByOne)
{
    const struct
    {
        QByteArray file;
        Settings expected;
    } cases[] = {
        { {}, { 1, 49217, 1, 50 } },
        { "[Voxhall Settings]\nPort=0xC041\nVolume=$14\n", { 1, 49217, 1, 20 } },
        { "[voxhall settings]\nCodec=9\nPort=letters\nMode=3\nVolume=500\n", { 9, 49217, 3, 500 } },
        { "[Voxhall Settings]\nCodec=4\nPort=70000\nMode=2\n", { 4, 49217, 2, 50 } }, // no UDP port
        { "[Voxhall Settings]\nPort=0\n", { 1, 49217, 1, 50 } },
        { "[Other]\nCodec=3\n", { 1, 49217, 1, 50 } },
    };
    for (const auto &c : cases) {
        QFile::remove(path());
        if (!c.file.isEmpty())
            store(c.file);
        const Settings read = readSettings(path());
        EXPECT_EQ(read.Codec, c.expected.Codec) << c.file.constData();
        EXPECT_EQ(read.Port, c.expected.Port) << c.file.constData();
        EXPECT_EQ(read.Mode, c.expected.Mode) << c.file.constData();
        EXPECT_EQ(read.Volume, c.expected.Volume) << c.file.constData();
    }
}

TEST_F(SettingsFile, WritesTheFourKeysInOrderBesideOtherText)
{
    const QString nested = m_dir.filePath(QStringLiteral("config/tobrel/tobrel.dat"));
    ASSERT_TRUE(writeSettings(nested, { 9, 50000, 2, 2 }));
    EXPECT_EQ(testsupport::readFile(nested), QByteArray("[Voxhall Settings]\nCodec=9\nPort=50000\nMode=2\nVolume=2\n"));

    store("; mine\r\n[Voxhall Settings]\r\nVolume=7\r\nDevice=headset\r\n");
    ASSERT_TRUE(writeSettings(path(), {}));
    EXPECT_EQ(testsupport::readFile(path()),
        QByteArray(
            "; mine\r\n[Voxhall Settings]\r\nVolume=50\r\nDevice=headset\r\nCodec=1\r\nPort=49217\r\nMode=1\r\n"));

    EXPECT_FALSE(writeSettings(m_dir.path(), {}));
}

TEST_F(SettingsFile, DeviceNamesFollowTheFourKeysAndReadBackWhole)
{
    const QByteArray four = "[Voxhall Settings]\nCodec=1\nPort=49217\nMode=1\nVolume=50\n";
    const struct
    {
        QByteArray before;
        QString input;
        QString output;
        QByteArray after; // empty: not compared
    } cases[] = {
        { {}, {}, {}, four }, // never chosen: the four keys alone
        { {}, "USB Headset", {}, four + "InputDevice=USB Headset\n" },
        { four + "InputDevice=USB Headset\nOutputDevice=pulse\n", {}, {}, four + "InputDevice=\nOutputDevice=\n" },
        { {}, "HDA Intel PCH: ALC892 Analog (hw:0,0)", "Speakers = \"front\"", {} },
        { {}, " padded ", "\"quoted\"", {} },
        { {}, "'single'", "x\"", {} },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input.toStdString() + " / " + c.output.toStdString());
        QFile::remove(path());
        if (!c.before.isEmpty())
            store(c.before);
        ASSERT_TRUE(writeSettings(path(), {}));
        ASSERT_TRUE(writeDeviceSettings(path(), { c.input, c.output }));
        if (!c.after.isEmpty()) {
            EXPECT_EQ(testsupport::readFile(path()), c.after);
        }
        const DeviceSettings read = readDeviceSettings(path());
        EXPECT_EQ(read.InputDevice, c.input);
        EXPECT_EQ(read.OutputDevice, c.output);
        EXPECT_EQ(readSettings(path()).Volume, 50);
    }
}

TEST_F(SettingsFile, PlayoutIsWrittenOnceChosenAndKeptAsRead)
{
    const struct
    {
        QByteArray file;
        int32_t playout; // to write back
        int32_t read;
        bool written;
    } cases[] = {
        { "[Voxhall Settings]\nCodec=1\n", 0, 0, false }, // never chosen: the four keys only
        { "[Voxhall Settings]\nCodec=1\n", 1, 0, true },
        { "[Voxhall Settings]\nPlayout=1\n", 0, 1, true }, // chosen back: 0 overwrites it
        { "[Voxhall Settings]\nPlayout=7\n", 7, 7, true },
        { "[Voxhall Settings]\nPlayout=x\n", 0, 0, true },
    };
    for (const auto &c : cases) {
        store(c.file);
        Settings settings = readSettings(path());
        EXPECT_EQ(settings.Playout, c.read) << c.file.constData();
        settings.Playout = c.playout;
        ASSERT_TRUE(writeSettings(path(), settings));
        EXPECT_EQ(testsupport::readFile(path()).contains("Playout=" + QByteArray::number(c.playout) + "\n"), c.written)
            << c.file.constData();
        EXPECT_EQ(readSettings(path()).Playout, c.written ? c.playout : 0) << c.file.constData();
    }
}

TEST_F(SettingsFile, LivesBesideTheProgramOrInTheConfigurationFolder)
{
    const QString config = m_dir.filePath(QStringLiteral("config"));
    EXPECT_EQ(settingsFilePath(m_dir.filePath(QStringLiteral("tobrel")), config), path());
    EXPECT_EQ(settingsFilePath(m_dir.filePath(QStringLiteral("bin.old/tobrel.bin")), config),
        QDir(config).filePath(QStringLiteral("tobrel/tobrel.dat")));
}

} // namespace
