#include "platform/acm/formatchoose.h"

#include "platform/acm/codec.h"

#include <algorithm>
#include <cstring>

namespace acm {

namespace {

FormatChooserUi &installedUi()
{
    static FormatChooserUi ui;
    return ui;
}

void copyText(char *target, std::size_t capacity, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const std::size_t n = std::min<std::size_t>(std::size_t(bytes.size()), capacity - 1);
    std::memcpy(target, bytes.constData(), n);
    target[n] = '\0';
}

} // namespace

FormatChooserUi setFormatChooserUi(FormatChooserUi ui)
{
    FormatChooserUi previous = std::move(installedUi());
    installedUi() = std::move(ui);
    return previous;
}

wave::MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA *choose)
{
    if (!choose || choose->cbStruct < sizeof(ACMFORMATCHOOSEA))
        return wave::MMSYSERR_INVALPARAM;
    if (choose->fdwStyle & ~(ACMFORMATCHOOSE_STYLEF_SHOWHELP | ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT))
        return wave::MMSYSERR_INVALFLAG;
    if (!choose->pwfx || choose->cbwfx < sizeof(wave::WAVEFORMATEX))
        return wave::MMSYSERR_INVALPARAM;
    if (!installedUi() || installedDrivers().empty())
        return wave::MMSYSERR_NODRIVER;

    FormatChoiceRequest request;
    request.owner = choose->hwndOwner;
    request.title = choose->pszTitle ? QString::fromLocal8Bit(choose->pszTitle) : QStringLiteral("Sound Selection");
    if (choose->fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) {
        // Read no further than the caller's buffer, whatever its extra-size field claims.
        wave::TACMWaveFormat initial;
        std::memset(&initial, 0, sizeof initial);
        std::memcpy(&initial, choose->pwfx, std::min<std::size_t>(choose->cbwfx, sizeof initial));
        request.initial = initial;
    }

    wave::TACMWaveFormat chosen;
    std::memset(&chosen, 0, sizeof chosen);
    const wave::MMRESULT result = installedUi()(request, chosen);
    if (result != wave::MMSYSERR_NOERROR)
        return result;
    const std::size_t needed = sizeof(wave::WAVEFORMATEX) + chosen.extraAvailable();
    if (needed > choose->cbwfx)
        return wave::ACMERR_NOTPOSSIBLE;
    std::memcpy(choose->pwfx, &chosen, needed);
    const Driver *driver = findDriver(chosen.format.wFormatTag);
    copyText(choose->szFormatTag, sizeof choose->szFormatTag, driver ? driver->tagName() : QString());
    copyText(choose->szFormat, sizeof choose->szFormat, formatAttributes(chosen));
    return wave::MMSYSERR_NOERROR;
}

} // namespace acm
