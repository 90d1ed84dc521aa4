#include "audio/audioerrors.h"

#include "platform/wave/mmsystem.h"

namespace audio {

namespace {

struct Explained
{
    int32_t code;
    const char *text;
    bool waveOnly; // explained by the wave components but not by the converter
};

constexpr Explained kExplained[] = {
    { wave::MMSYSERR_BADDEVICEID, " The specified resource does not exist.", true },
    { wave::MMSYSERR_ALLOCATED, " The specified resource is already in use.", true },
    { wave::MMSYSERR_INVALHANDLE, " The specified handle is invalid.", false },
    { wave::MMSYSERR_NODRIVER, " A suitable driver is not available to provide valid format selections.", false },
    { wave::MMSYSERR_NOMEM, " The system is unable to allocate resources.", false },
    { wave::MMSYSERR_INVALFLAG, " At least one flag is invalid.", false },
    { wave::MMSYSERR_INVALPARAM, " At least one parameter is invalid.", false },
    { wave::WAVERR_BADFORMAT, " Unsupported audio format.", true },
    { wave::WAVERR_SYNC, " The specified device does not support asynchronous operation.", true },
    { wave::ACMERR_NOTPOSSIBLE, " The requested operation cannot be performed.", false },
    { wave::ACMERR_BUSY, " The conversion stream is already in use.", false },
    { wave::ACMERR_UNPREPARED, " Cannot perform this action on a header that has not been prepared.", false },
};

} // namespace

QString explainedText(AudioReporter reporter, int32_t code)
{
    for (const Explained &entry : kExplained) {
        if (entry.code == code && (!entry.waveOnly || reporter != AudioReporter::Convertor))
            return QString::fromLatin1(entry.text);
    }
    return {};
}

QString audioErrorMessage(AudioReporter reporter, const QString &operation, int32_t code)
{
    const QString text = explainedText(reporter, code);
    if (!text.isEmpty())
        return operation + text;
    return QStringLiteral("%1 raised an unknown error (code #%2)").arg(operation).arg(code);
}

} // namespace audio
