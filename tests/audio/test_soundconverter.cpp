#include "audiofixture.h"

#include "audio/audioerrors.h"
#include "audio/soundconverter.h"
#include "framework/propertyfiler.h"
#include "platform/acm/chooser/formatchooserdialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace audiotest;
using audio::TACMConvertor;

namespace {

QByteArray recordBytes(const wave::TACMWaveFormat &record)
{
    return QByteArray(reinterpret_cast<const char *>(record.bytes()), int(wave::TACMWaveFormat::kSize));
}

QByteArray storedBlock(uint32_t length, const QByteArray &body)
{
    QByteArray block;
    for (int i = 0; i < 4; ++i)
        block.append(char(length >> (8 * i)));
    return block + body;
}

QString converterError(const std::function<void()> &action)
{
    try {
        action();
    } catch (const audio::EACMConvertor &error) {
        return error.message();
    }
    return QString();
}

class ConverterTest : public ::testing::Test
{
protected:
    void TearDown() override { acm::setFormatChooserUi({}); }

    // Loads stored format records into a converter as a form load would.
    void load(TACMConvertor &converter, const framework::StoredProperties &stored)
    {
        converter.loadStored([&] { framework::readStoredProperties(converter, stored); });
    }
};

TEST_F(ConverterTest, StartsInactiveWithPcmDefaults)
{
    TACMConvertor converter;
    EXPECT_FALSE(converter.Active());
    EXPECT_EQ(converter.InputBufferSize(), 2048u);
    const auto expected = wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 129);
    EXPECT_EQ(recordBytes(converter.ACMFormatIn()), recordBytes(expected));
    EXPECT_EQ(recordBytes(converter.ACMFormatOut()), recordBytes(expected));
}

TEST_F(ConverterTest, ActiveTwiceOpensTheStreamOnce)
{
    TACMConvertor converter;
    converter.setActive(true);
    ASSERT_TRUE(converter.Active());
    const auto stream = converter.streamHandle();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(converter.destinationSize(), 2048u);
    EXPECT_TRUE(converter.streamHeader().fdwStatus & acm::ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(converter.streamHeader().cbSrcLength, 2048u);
    EXPECT_EQ(converter.streamHeader().cbDstLength, 2048u);
    converter.setActive(true);
    EXPECT_EQ(converter.streamHandle(), stream);
    converter.setActive(false);
    EXPECT_FALSE(converter.Active());
    EXPECT_EQ(converter.streamHandle(), nullptr);
    converter.setActive(false);
    // The stream really is closed.
    uint32_t size = 0;
    EXPECT_EQ(acm::acmStreamSize(stream, 10, &size, 0), wave::MMSYSERR_INVALHANDLE);
}

TEST_F(ConverterTest, BufferSizeCannotChangeWhileActive)
{
    TACMConvertor converter;
    converter.setInputBufferSize(4000);
    converter.setActive(true);
    EXPECT_EQ(
        converterError([&] { converter.setInputBufferSize(100); }), "You cannot change the buffer size while active.");
    EXPECT_EQ(converter.InputBufferSize(), 4000u);
    converter.setActive(false);
    converter.setInputBufferSize(100);
    EXPECT_EQ(converter.InputBufferSize(), 100u);
}

TEST_F(ConverterTest, StoredFormatsRoundTripByteForByte)
{
    TACMConvertor converter;
    const auto written = framework::writeStoredProperties(converter);
    ASSERT_EQ(written.keys(), (QStringList { "ACMFormatIn", "ACMFormatOut" }));
    for (const QByteArray &block : written) {
        ASSERT_EQ(block.size(), 133);
        EXPECT_EQ(block.left(4), QByteArray("\x81\0\0\0", 4));
    }
    EXPECT_EQ(written["ACMFormatIn"].mid(4), recordBytes(converter.ACMFormatIn()));

    auto gsm = gsmFormat();
    for (std::size_t i = 2; i < wave::TACMWaveFormat::kExtraRoom; ++i)
        gsm.extra[i] = uint8_t(i * 3); // every byte of the record counts
    const framework::StoredProperties stored { { "ACMFormatIn", storedBlock(129, recordBytes(pcm16Format())) },
        { "ACMFormatOut", storedBlock(129, recordBytes(gsm)) } };
    TACMConvertor loaded;
    load(loaded, stored);
    EXPECT_EQ(recordBytes(loaded.ACMFormatIn()), recordBytes(pcm16Format()));
    EXPECT_EQ(recordBytes(loaded.ACMFormatOut()), recordBytes(gsm));
    EXPECT_EQ(framework::writeStoredProperties(loaded), stored);
    // Both formats are used by the next opening: 2048 bytes of 16-bit PCM fill four GSM blocks.
    loaded.setActive(true);
    EXPECT_EQ(loaded.destinationSize(), 4u * 65);
}

TEST_F(ConverterTest, StoredBlocksLongerOrShorterThanTheRecordAreReadSafely)
{
    QByteArray long200(200, '\x5a');
    TACMConvertor converter;
    load(converter,
        { { "ACMFormatIn", storedBlock(200, long200) },
            { "ACMFormatOut", storedBlock(0xFFFFFFFFu, QByteArray(20, '\x11')) } });
    EXPECT_EQ(recordBytes(converter.ACMFormatIn()), QByteArray(129, '\x5a'));
    // A block that claims more than it holds gives only what it has; the rest stays.
    const auto defaults = wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 129);
    EXPECT_EQ(recordBytes(converter.ACMFormatOut()), QByteArray(20, '\x11') + recordBytes(defaults).mid(20));
}

TEST_F(ConverterTest, StreamFailuresAreReportedWithTheirOperation)
{
    TACMConvertor converter;
    load(converter, { { "ACMFormatOut", storedBlock(129, recordBytes(gsmFormat())) } }); // 22050 Hz to 8000 Hz
    EXPECT_EQ(converterError([&] { converter.setActive(true); }),
        "acmStreamOpen: The requested operation cannot be performed.");
    EXPECT_FALSE(converter.Active());
    load(converter, { { "ACMFormatIn", storedBlock(129, recordBytes(pcm8Format(8000))) } });
    converter.setInputBufferSize(0); // nothing to convert
    EXPECT_EQ(converterError([&] { converter.setActive(true); }),
        "acmStreamSize: The requested operation cannot be performed.");
    EXPECT_FALSE(converter.Active());
    EXPECT_EQ(converter.streamHandle(), nullptr);
}

TEST_F(ConverterTest, ChooseFormatReturnsTheChoiceOrLeavesTheRecordOnCancel)
{
    TACMConvertor converter;
    std::optional<wave::TACMWaveFormat> initial;
    wave::MMRESULT answer = wave::ACMERR_CANCELED;
    acm::setFormatChooserUi([&](const acm::FormatChoiceRequest &request, wave::TACMWaveFormat &chosen) {
        initial = request.initial;
        chosen = pcm16Format(11025);
        return answer;
    });
    auto record = pcm8Format();
    EXPECT_FALSE(converter.ChooseFormat(record, false));
    EXPECT_EQ(recordBytes(record), recordBytes(pcm8Format()));
    // Without use-as-initial the dialog starts on GSM 6.10.
    ASSERT_TRUE(initial.has_value());
    EXPECT_EQ(initial->format.wFormatTag, wave::WAVE_FORMAT_GSM610);
    EXPECT_EQ(initial->format.nSamplesPerSec, 8000u);
    EXPECT_EQ(initial->format.cbSize, 0);

    answer = wave::MMSYSERR_NOERROR;
    EXPECT_TRUE(converter.ChooseFormat(record, true));
    EXPECT_EQ(recordBytes(*initial), recordBytes(pcm8Format()));
    EXPECT_EQ(recordBytes(record), recordBytes(pcm16Format(11025)));

    answer = wave::MMSYSERR_NOMEM;
    EXPECT_EQ(converterError([&] { converter.ChooseFormat(record, false); }),
        "Choose format The system is unable to allocate resources.");
    acm::setFormatChooserUi({});
    EXPECT_EQ(converterError([&] { converter.ChooseFormat(record, false); }),
        "Choose format A suitable driver is not available to provide valid format selections.");
    EXPECT_EQ(recordBytes(record), recordBytes(pcm16Format(11025)));
}

// Drives the real dialog once it is shown: action gets it and closes it.
void whenDialogShows(const std::function<void(acm::FormatChooserDialog &)> &action)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        if (auto *dialog = qobject_cast<acm::FormatChooserDialog *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            action(*dialog);
        }
    });
    poll->start(10);
}

TEST_F(ConverterTest, TheDialogOffersTagsAndFormatsAndReturnsTheChosenOne)
{
    acm::installFormatChooserDialog();
    TACMConvertor converter;
    QStringList tags;
    whenDialogShows([&](acm::FormatChooserDialog &dialog) {
        for (int i = 0; i < dialog.tagList()->count(); ++i)
            tags << dialog.tagList()->item(i)->text();
        EXPECT_EQ(dialog.tagList()->currentItem()->text(), "GSM 6.10");
        EXPECT_EQ(dialog.formatList()->currentItem()->text(), "8.000 kHz, Mono, 1625 bytes/s");
        dialog.tagList()->setCurrentRow(0);
        const auto found = dialog.formatList()->findItems("11.025 kHz, 16 Bit, Mono, 22050 bytes/s", Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        dialog.formatList()->setCurrentItem(found[0]);
        dialog.buttons()->button(QDialogButtonBox::Ok)->click();
    });
    auto record = gsmFormat();
    ASSERT_TRUE(converter.ChooseFormat(record, false));
    EXPECT_EQ(tags, (QStringList { "PCM", "GSM 6.10" }));
    EXPECT_EQ(recordBytes(record), recordBytes(pcm16Format(11025)));
}

TEST_F(ConverterTest, TheDialogStartsOnTheGivenFormatAndCancelKeepsTheRecord)
{
    acm::installFormatChooserDialog();
    TACMConvertor converter;
    const auto stereo = wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8);
    QString shown;
    whenDialogShows([&](acm::FormatChooserDialog &dialog) {
        shown = dialog.tagList()->currentItem()->text() + " / " + dialog.formatList()->currentItem()->text();
        dialog.buttons()->button(QDialogButtonBox::Cancel)->click();
    });
    auto record = stereo;
    EXPECT_FALSE(converter.ChooseFormat(record, true));
    EXPECT_EQ(shown, "PCM / 22.050 kHz, 8 Bit, Stereo, 44100 bytes/s");
    EXPECT_EQ(recordBytes(record), recordBytes(stereo));

    whenDialogShows([](acm::FormatChooserDialog &dialog) { dialog.buttons()->button(QDialogButtonBox::Ok)->click(); });
    EXPECT_TRUE(converter.ChooseFormat(record, true));
    EXPECT_EQ(recordBytes(record), recordBytes(stereo));
}

// Each label names its list with a mnemonic: the key leads to the list (and the label shows no
// literal ampersand).
TEST_F(ConverterTest, TheDialogsLabelKeysLeadToTheirLists)
{
    acm::FormatChooserDialog dialog(acm::FormatChoiceRequest {});
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    const struct
    {
        Qt::Key key;
        QListWidget *list;
    } cases[] = { { Qt::Key_A, dialog.formatList() }, { Qt::Key_F, dialog.tagList() } };
    for (const auto &c : cases) {
        QTest::keyClick(&dialog, c.key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), c.list) << QKeySequence(c.key).toString().toStdString();
    }
}

} // namespace
