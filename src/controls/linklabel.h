#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;

namespace controls {

enum LinkType
{
    ltURL,
    ltEMAIL
};

// A web or e-mail address shown as a blue, underlined link; clicking it asks the desktop to open
// the address ("mailto:" added for e-mail). The control's width follows the text. GUI thread only.
class TLinkLabel : public QWidget
{
    Q_OBJECT

public:
    // Carries out the "open" request for a target; its outcome is ignored.
    using Opener = std::function<void(const QString &target)>;

    explicit TLinkLabel(QWidget *owner = nullptr);
    ~TLinkLabel() override;

    QString URLorEMAIL() const;
    void setURLorEMAIL(const QString &text);
    bool ShowHint() const { return m_labelShowHint; }
    void setShowHint(bool show) { m_labelShowHint = show; }
    LinkType Choose() const { return m_choose; }
    void setChoose(LinkType choose) { m_choose = choose; }

    // The default opener hands the target to the desktop's handler (QDesktopServices::openUrl);
    // an empty opener restores it.
    void setOpener(Opener opener);
    static void openWithDesktop(const QString &target);

    QLabel *label() const { return m_label; }
    static const char *placeholderAddress();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void LabelClick();
    void fitToText();

    QLabel *m_label; // child: created and freed with this control
    LinkType m_choose = ltURL;
    bool m_labelShowHint = true;
    bool m_pressed = false;
    Opener m_opener;
};

} // namespace controls
