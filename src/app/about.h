#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutBox;
}

namespace app {

// The About box: the program's picture, name, version, credit line and two links (feedback by
// e-mail, the web site). Made once at start-up and shown modally from Help > About; it keeps its
// labels between showings. OK brings the main window up and closes the box.
class TAboutBox : public QDialog
{
    Q_OBJECT

public:
    static const QString kWebsite;

    explicit TAboutBox(QWidget *mainWindow);
    ~TAboutBox() override;

    const Ui::TAboutBox &controls() const { return *ui; }

    void OKButtonClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();

    std::unique_ptr<Ui::TAboutBox> ui;
    QWidget *m_mainWindow;
};

// The program's picture, also the icon of its windows.
QIcon programIcon();

} // namespace app
