#pragma once

// The format-choice call of the codec layer, in the shape of the Audio Compression Manager's
// acmFormatChooseA. The dialog itself is a user-interface piece installed by the program
// (platform/acm/chooser) so that this layer stays headless; without one the call fails with
// MMSYSERR_NODRIVER.

#include "platform/wave/mmsystem.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace acm {

constexpr uint32_t ACMFORMATCHOOSE_STYLEF_SHOWHELP = 0x04;
constexpr uint32_t ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x40;

struct ACMFORMATCHOOSEA
{
    uint32_t cbStruct = 0; // sizeof(ACMFORMATCHOOSEA)
    uint32_t fdwStyle = 0;
    void *hwndOwner = nullptr; // a QWidget*, or null
    wave::WAVEFORMATEX *pwfx = nullptr; // the format buffer: read for the initial format, written with the choice
    uint32_t cbwfx = 0; // bytes of the format buffer
    const char *pszTitle = nullptr; // null: the default title
    char szFormatTag[48] = {}; // out: the chosen tag's name
    char szFormat[128] = {}; // out: the chosen format's attributes
    char *pszName = nullptr;
    uint32_t cchName = 0;
    uint32_t fdwEnum = 0;
    wave::WAVEFORMATEX *pwfxEnum = nullptr;
    void *hInstance = nullptr;
    const char *pszTemplateName = nullptr;
    intptr_t lCustData = 0;
    void *pfnHook = nullptr;
};

// What the dialog is asked: its owner and title, and the format to start on (if any).
struct FormatChoiceRequest
{
    void *owner = nullptr;
    QString title;
    std::optional<wave::TACMWaveFormat> initial;
};

// Shows the dialog; returns MMSYSERR_NOERROR with chosen filled, or ACMERR_CANCELED.
using FormatChooserUi = std::function<wave::MMRESULT(const FormatChoiceRequest &request, wave::TACMWaveFormat &chosen)>;

// Installs the dialog (GUI thread); returns the one it replaces. An empty function uninstalls.
FormatChooserUi setFormatChooserUi(FormatChooserUi ui);

// Validates the record, runs the installed dialog and writes the chosen format into pwfx (the
// header plus the format's extra bytes, which must fit cbwfx: else ACMERR_NOTPOSSIBLE).
wave::MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA *choose);

} // namespace acm
