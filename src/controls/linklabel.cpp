#include "controls/linklabel.h"

#include "framework/application.h"

#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include <algorithm>

namespace controls {

namespace {
// One line of the dialog font on the platform this control comes from; Qt fonts may need more.
constexpr int kMinimumHeight = 13;
} // namespace

const char *TLinkLabel::placeholderAddress()
{
    return "http://www.example.com/";
}

TLinkLabel::TLinkLabel(QWidget *owner)
    : QWidget(owner)
    , m_label(new QLabel(this))
    , m_opener(&TLinkLabel::openWithDesktop)
{
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Put here the Hint for your site link!"));
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    m_label->setPalette(palette);
    QFont font = m_label->font();
    font.setUnderline(true);
    m_label->setFont(font);
    m_label->installEventFilter(this);
    // An address is shown as written: "<", ">" and "&" in it are characters, not markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setText(QLatin1String(placeholderAddress()));
    m_label->show();
    fitToText();
}

TLinkLabel::~TLinkLabel() = default;

QString TLinkLabel::URLorEMAIL() const
{
    return m_label->text();
}

void TLinkLabel::setURLorEMAIL(const QString &text)
{
    m_label->setText(text);
    fitToText();
}

void TLinkLabel::fitToText()
{
    const QSize natural = m_label->sizeHint();
    resize(natural.width(), std::max(kMinimumHeight, natural.height()));
    m_label->setGeometry(0, 0, width(), height());
}

void TLinkLabel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_label->setGeometry(0, 0, width(), height());
}

void TLinkLabel::setOpener(Opener opener)
{
    m_opener = opener ? std::move(opener) : Opener(&TLinkLabel::openWithDesktop);
}

void TLinkLabel::openWithDesktop(const QString &target)
{
    // Like the shell, take "www.example.com" as a web address; the result is ignored.
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

void TLinkLabel::LabelClick()
{
    const QString target = m_choose == ltEMAIL ? QStringLiteral("mailto:") + URLorEMAIL() : URLorEMAIL();
    m_opener(target);
}

bool TLinkLabel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_label)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ToolTip:
        // The label has no hint of its own: the control's shows, unless the label's are off.
        if (!m_labelShowHint)
            return true;
        break;
    case QEvent::MouseButtonPress:
        m_pressed = static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
        break;
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const bool click
            = m_pressed && mouse->button() == Qt::LeftButton && m_label->rect().contains(mouse->position().toPoint());
        m_pressed = false;
        if (click)
            framework::guard(this, [&] { LabelClick(); });
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace controls
