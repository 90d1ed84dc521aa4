#include "platform/acm/chooser/formatchooserdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace acm {

FormatChooserDialog::FormatChooserDialog(const FormatChoiceRequest &request, QWidget *parent)
    : QDialog(parent)
    , m_tags(new QListWidget(this))
    , m_formats(new QListWidget(this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(request.title);
    m_tags->setObjectName(QStringLiteral("formatTagList"));
    m_formats->setObjectName(QStringLiteral("formatList"));
    // Each label is its list's buddy: its key leads to the list, and the '&' marks that key
    // instead of showing itself.
    auto *tagLabel = new QLabel(QStringLiteral("&Format:"), this);
    tagLabel->setBuddy(m_tags);
    auto *formatLabel = new QLabel(QStringLiteral("&Attributes:"), this);
    formatLabel->setBuddy(m_formats);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tagLabel);
    layout->addWidget(m_tags);
    layout->addWidget(formatLabel);
    layout->addWidget(m_formats);
    layout->addWidget(m_buttons);

    for (const Driver *driver : installedDrivers())
        m_tags->addItem(driver->tagName());
    connect(m_tags, &QListWidget::currentRowChanged, this, &FormatChooserDialog::showTag);
    connect(m_formats, &QListWidget::currentRowChanged, this,
        [this](int row) { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(row >= 0); });
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (request.initial)
        selectNearest(*request.initial);
    else
        m_tags->setCurrentRow(0);
}

void FormatChooserDialog::showTag(int row)
{
    m_formats->clear();
    m_shown.clear();
    const auto &drivers = installedDrivers();
    if (row < 0 || std::size_t(row) >= drivers.size())
        return;
    m_shown = drivers[std::size_t(row)]->formats();
    for (const auto &format : m_shown)
        m_formats->addItem(formatAttributes(format));
    m_formats->setCurrentRow(m_shown.empty() ? -1 : 0);
}

// Starts on the tag of wanted and on its format when offered, else on the closest rate.
void FormatChooserDialog::selectNearest(const wave::TACMWaveFormat &wanted)
{
    const auto &drivers = installedDrivers();
    int tagRow = 0;
    for (std::size_t i = 0; i < drivers.size(); ++i) {
        if (drivers[i]->formatTag() == wanted.format.wFormatTag)
            tagRow = int(i);
    }
    m_tags->setCurrentRow(tagRow);
    int best = -1;
    uint64_t bestScore = UINT64_MAX;
    for (std::size_t i = 0; i < m_shown.size(); ++i) {
        const wave::WAVEFORMATEX f = m_shown[i].format;
        const wave::WAVEFORMATEX w = wanted.format;
        uint64_t score = uint64_t(f.nSamplesPerSec > w.nSamplesPerSec ? f.nSamplesPerSec - w.nSamplesPerSec
                                                                      : w.nSamplesPerSec - f.nSamplesPerSec)
            * 4;
        score += (f.nChannels != w.nChannels) * 2 + (f.wBitsPerSample != w.wBitsPerSample);
        if (score < bestScore) {
            bestScore = score;
            best = int(i);
        }
    }
    if (best >= 0)
        m_formats->setCurrentRow(best);
}

wave::TACMWaveFormat FormatChooserDialog::chosenFormat() const
{
    const int row = m_formats->currentRow();
    if (row < 0 || std::size_t(row) >= m_shown.size())
        return wave::makeWaveFormat(0, 0, 0, 0, 0, 0);
    return m_shown[std::size_t(row)];
}

void installFormatChooserDialog()
{
    setFormatChooserUi([](const FormatChoiceRequest &request, wave::TACMWaveFormat &chosen) -> wave::MMRESULT {
        FormatChooserDialog dialog(request, static_cast<QWidget *>(request.owner));
        if (dialog.exec() != QDialog::Accepted || dialog.formatList()->currentRow() < 0)
            return wave::ACMERR_CANCELED;
        chosen = dialog.chosenFormat();
        return wave::MMSYSERR_NOERROR;
    });
}

} // namespace acm
