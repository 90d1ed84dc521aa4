#pragma once

#include <QWidget>

namespace gallery {

// One window with every LED style lit and dark, bordered and not, the main window's four LEDs,
// a horizontal and a vertical slider and two links. The LEDs do not blink, so that a screenshot
// always shows the same picture.
class GalleryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit GalleryWindow(QWidget *parent = nullptr);
};

} // namespace gallery
