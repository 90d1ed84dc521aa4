#include "gallerywindow.h"

#include "controls/led.h"
#include "controls/linklabel.h"
#include "controls/slider.h"

#include <QLabel>

namespace gallery {

using namespace controls;

namespace {

constexpr int kMargin = 10;
constexpr int kColumn = 64;
constexpr int kRow = 30;
constexpr int kLabelWidth = 175;

QLabel *caption(QWidget *parent, const QString &text, int x, int y, int width = kLabelWidth)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, width, 20);
    return label;
}

TLed *led(QWidget *parent, int x, int y)
{
    auto *result = new TLed(parent);
    result->move(x, y);
    return result;
}

} // namespace

GalleryWindow::GalleryWindow(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Tobrel controls gallery"));
    const char *const styles[] = { "Small", "Large", "SqSmall", "SqLarge", "Vertical", "Horizontal" };
    int y = kMargin;
    caption(this, QStringLiteral("LEDStyle"), kMargin, y);
    for (int s = 0; s < 6; ++s)
        caption(this, QLatin1String(styles[s]), kMargin + kLabelWidth + s * kColumn, y, kColumn);
    y += kRow;

    struct Row
    {
        const char *text;
        bool bordered;
        bool value;
        TColor border;
    };
    const Row rows[] = {
        { "Bordered, lit", true, true, clBtnFace },
        { "Bordered, dark", true, false, clBtnFace },
        { "Not bordered, lit", false, true, clBtnFace },
        { "Not bordered, dark", false, false, clBtnFace },
        { "BorderColor clNavy, lit", false, true, clNavy },
        { "BorderColor clNavy, dark", false, false, clNavy },
    };
    for (const Row &row : rows) {
        caption(this, QLatin1String(row.text), kMargin, y);
        for (int s = 0; s < 6; ++s) {
            TLed *l = led(this, kMargin + kLabelWidth + s * kColumn, y);
            l->setBlink(false);
            l->setLEDStyle(TLEDStyle(s));
            l->setBordered(row.bordered);
            l->setBorderColor(row.border);
            l->setValue(row.value);
        }
        y += kRow;
    }

    // The main window's status lights, lit and dark.
    caption(this, QStringLiteral("Led1..Led4 lit / dark"), kMargin, y);
    for (int lit = 0; lit < 2; ++lit) {
        const int x0 = kMargin + kLabelWidth + lit * 3 * kColumn;
        TLed *led1 = led(this, x0, y);
        led1->setLEDStyle(LEDLarge);
        led1->setFalseColor(clGreen);
        TLed *led2 = led(this, x0 + 32, y);
        led2->setLEDStyle(LEDLarge);
        led2->setTrueColor(clRed);
        led2->setFalseColor(clMaroon);
        TLed *led3 = led(this, x0 + 64, y + 3);
        led3->setTrueColor(clYellow);
        led3->setFalseColor(clMaroon);
        led3->setBordered(false);
        TLed *led4 = led(this, x0 + 96, y + 3);
        led4->setFalseColor(clGreen);
        led4->setBordered(false);
        for (TLed *l : { led1, led2, led3, led4 }) {
            l->setBlink(false);
            l->setValue(lit == 0);
        }
    }
    y += kRow + 10;

    // The main window's volume slider, and a vertical one with a lowered bevel.
    caption(this, QStringLiteral("Horizontal slider"), kMargin, y);
    auto *horizontal = new TSlider(this);
    horizontal->setGeometry(kMargin + kLabelWidth, y, 162, 33);
    horizontal->setMinValue(2);
    horizontal->setIncrement(7);
    horizontal->setValue(50);
    horizontal->setTabStop(false);
    auto *vertical = new TSlider(this);
    vertical->setOrientation(soVertical);
    vertical->setGeometry(kMargin + kLabelWidth + 6 * kColumn + 10, kMargin + kRow, 40, 162);
    vertical->setBevelStyle(bvLowered);
    vertical->setValue(70);
    vertical->setTabStop(false);
    caption(this, QStringLiteral("Vertical slider"), vertical->x(), vertical->y() + vertical->height() + 2, 100);
    y += 33 + kRow;

    caption(this, QStringLiteral("Links"), kMargin, y);
    auto *web = new TLinkLabel(this);
    web->move(kMargin + kLabelWidth, y);
    web->setURLorEMAIL(QStringLiteral("http://www.example.com/tobrel/"));
    auto *mail = new TLinkLabel(this);
    mail->setChoose(ltEMAIL);
    mail->setURLorEMAIL(QStringLiteral("feedback@example.com"));
    mail->move(web->x() + web->width() + 20, y);
    y += kRow;

    resize(kMargin + kLabelWidth + 6 * kColumn + 10 + 80 + kMargin, y + kMargin);
}

} // namespace gallery
