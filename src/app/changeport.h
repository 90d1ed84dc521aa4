#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmChangePort;
}

namespace app {

class TForm1;

// The port dialog: the UDP port this copy takes calls on, 49152 to 65535. Made once after the main
// window and only shown and hidden afterwards; its edit box keeps whatever it last held. OK moves
// the call component to the port, shows it in the main window and saves the settings; "Reset to
// Default" moves to 49217 at once, unsaved, and Cancel does not undo it. A port that another
// program holds is reported by the call component's socket, and the call component goes back to
// the port it had, which the edit box and the main window then show.
class TfrmChangePort : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kLowestPort = 49152;
    static constexpr int kHighestPort = 65535;
    static constexpr int kDefaultPort = 49217;

    explicit TfrmChangePort(TForm1 &mainWindow);
    ~TfrmChangePort() override;

    const Ui::TfrmChangePort &controls() const { return *ui; }

    // True when the character reaches the edit box.
    bool edPortKeyPress(QChar key);
    void btnOKClick();
    void btnResetDefaultClick();
    void btnCancelClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    // Local_Port := port; false (and the old port back) when the socket could not take it.
    bool moveCallPort(int port);
    void showPortInUse();

    std::unique_ptr<Ui::TfrmChangePort> ui;
    TForm1 &m_mainWindow;
};

} // namespace app
