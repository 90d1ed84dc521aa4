#pragma once

#include "platform/acm/codec.h"
#include "platform/acm/formatchoose.h"

#include <QDialog>

#include <vector>

class QListWidget;
class QDialogButtonBox;

namespace acm {

// The format-choice dialog: the installed drivers' format tags in one list ("formatTagList"),
// the chosen tag's formats with rate, bits, channels and bytes per second in a second one
// ("formatList"). OK takes the selected format; Cancel or closing the window cancels.
class FormatChooserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FormatChooserDialog(const FormatChoiceRequest &request, QWidget *parent = nullptr);

    // The selected format; only meaningful after OK.
    wave::TACMWaveFormat chosenFormat() const;

    QListWidget *tagList() const { return m_tags; }
    QListWidget *formatList() const { return m_formats; }
    QDialogButtonBox *buttons() const { return m_buttons; }

private:
    void showTag(int row);
    void selectNearest(const wave::TACMWaveFormat &wanted);

    QListWidget *m_tags;
    QListWidget *m_formats;
    QDialogButtonBox *m_buttons;
    std::vector<wave::TACMWaveFormat> m_shown; // the formats of the current tag, in list order
};

// Makes this dialog the one acmFormatChooseA shows (GUI thread, QApplication running).
void installFormatChooserDialog();

} // namespace acm
