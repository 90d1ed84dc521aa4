#include "audio/audioerrors.h"

#include <gtest/gtest.h>

using audio::audioErrorMessage;
using audio::AudioReporter;

namespace {

struct Row
{
    int32_t code;
    const char *text; // null: unexplained
    bool convertorExplains;
};

const Row kRows[] = {
    { 2, " The specified resource does not exist.", false },
    { 4, " The specified resource is already in use.", false },
    { 5, " The specified handle is invalid.", true },
    { 6, " A suitable driver is not available to provide valid format selections.", true },
    { 7, " The system is unable to allocate resources.", true },
    { 10, " At least one flag is invalid.", true },
    { 11, " At least one parameter is invalid.", true },
    { 32, " Unsupported audio format.", false },
    { 35, " The specified device does not support asynchronous operation.", false },
    { 512, " The requested operation cannot be performed.", true },
    { 513, " The conversion stream is already in use.", true },
    { 514, " Cannot perform this action on a header that has not been prepared.", true },
    { 1, nullptr, false },
    { 3, nullptr, false },
    { 33, nullptr, false },
    { 34, nullptr, false },
    { 515, nullptr, false },
};

TEST(AudioErrors, EachReporterExplainsItsCodesAndFormatsTheRest)
{
    for (const Row &row : kRows) {
        for (AudioReporter reporter : { AudioReporter::WaveIn, AudioReporter::WaveOut, AudioReporter::Convertor }) {
            const bool explained = row.text && (reporter != AudioReporter::Convertor || row.convertorExplains);
            const QString expected = explained ? QStringLiteral("Op") + QString::fromLatin1(row.text)
                                               : QStringLiteral("Op raised an unknown error (code #%1)").arg(row.code);
            EXPECT_EQ(audioErrorMessage(reporter, "Op", row.code), expected) << row.code << int(reporter);
        }
    }
}

TEST(AudioErrors, MessagesFollowTheNameDirectly)
{
    EXPECT_EQ(audioErrorMessage(AudioReporter::WaveIn, "WaveIn-Open", 4),
        "WaveIn-Open The specified resource is already in use.");
    EXPECT_EQ(audioErrorMessage(AudioReporter::Convertor, "acmStreamOpen:", 11),
        "acmStreamOpen: At least one parameter is invalid.");
    EXPECT_EQ(audioErrorMessage(AudioReporter::WaveOut, "WaveOut-Write", 33),
        "WaveOut-Write raised an unknown error (code #33)");
    EXPECT_EQ(audioErrorMessage(AudioReporter::Convertor, "Choose format", 6),
        "Choose format A suitable driver is not available to provide valid format selections.");
    EXPECT_EQ(audioErrorMessage(AudioReporter::Convertor, "acmStreamOpen:", 2),
        "acmStreamOpen: raised an unknown error (code #2)");
}

TEST(AudioErrors, NegativeAndLargeCodesPrintInDecimal)
{
    EXPECT_EQ(audioErrorMessage(AudioReporter::WaveIn, "X", -1), "X raised an unknown error (code #-1)");
    EXPECT_EQ(
        audioErrorMessage(AudioReporter::WaveOut, "X", INT32_MAX), "X raised an unknown error (code #2147483647)");
    EXPECT_EQ(
        audioErrorMessage(AudioReporter::Convertor, "X", INT32_MIN), "X raised an unknown error (code #-2147483648)");
}

} // namespace
