#pragma once

#include "framework/component.h"
#include "platform/acm/acmstream.h"
#include "platform/acm/formatchoose.h"
#include "platform/wave/mmsystem.h"

#include <memory>

namespace audio {

// The format-choice dialog and a conversion stream between two stored formats, ACMFormatIn and
// ACMFormatOut. GUI thread only. The dialog is whatever the program installed with
// acm::setFormatChooserUi (the Qt dialog of platform/acm/chooser); without one ChooseFormat
// raises the "no driver" error.
class TACMConvertor : public framework::TComponent
{
    Q_OBJECT

public:
    explicit TACMConvertor(QObject *owner = nullptr);
    ~TACMConvertor() override;

    // Shows the dialog, starting on format when UseAsInitial is set. True and format overwritten
    // on OK; false and format unchanged on Cancel. Other failures raise EACMConvertor.
    bool ChooseFormat(wave::TACMWaveFormat &format, bool UseAsInitial);

    // True while the stream is open with its header prepared over the two buffers.
    bool Active() const { return m_active; }
    void setActive(bool active);

    // Source bytes per conversion; default 2048. Changing it while active raises EACMConvertor.
    uint32_t InputBufferSize() const { return m_inputBufferSize; }
    void setInputBufferSize(uint32_t size);

    const wave::TACMWaveFormat &ACMFormatIn() const { return m_formatIn; }
    const wave::TACMWaveFormat &ACMFormatOut() const { return m_formatOut; }
    // Destination bytes for one full source buffer, as the stream reported it at opening.
    uint32_t destinationSize() const { return m_destinationSize; }
    const acm::ACMSTREAMHEADER &streamHeader() const { return m_header; }
    acm::HACMSTREAM streamHandle() const { return m_stream; }

    // Stores "ACMFormatIn" and "ACMFormatOut": a 32-bit little-endian length (129) followed by
    // the record. A stored length above 129 fills the record and skips the rest.
    void DefineProperties(framework::TFiler &filer) override;

private:
    void openStream();
    void closeStream();
    // The error rule: nothing for 0; otherwise raise EACMConvertor (the stream is not closed).
    void ReportError(const QString &operation, wave::MMRESULT code);

    acm::ACMFORMATCHOOSEA m_choose {};
    bool m_active = false;
    std::unique_ptr<uint8_t[]> m_source;
    std::unique_ptr<uint8_t[]> m_destination;
    uint32_t m_inputBufferSize = 0;
    uint32_t m_destinationSize = 0;
    acm::HACMSTREAM m_stream = nullptr;
    acm::ACMSTREAMHEADER m_header {};
    wave::TACMWaveFormat m_formatIn {};
    wave::TACMWaveFormat m_formatOut {};
};

} // namespace audio
