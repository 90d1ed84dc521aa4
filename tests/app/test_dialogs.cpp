#include "windowfixture.h"

#include "ui_about.h"
#include "ui_changeport.h"
#include "ui_mainwindow.h"

#include "app/about.h"
#include "app/changeport.h"
#include "app/forms.h"
#include "app/help.h"
#include "call/telefoon.h"
#include "controls/linklabel.h"
#include "net/udpsock.h"
#include "net/udptestpeer.h"

#include "support/files.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <random>

using namespace testsupport;

namespace {

// A UDP port the dialog accepts (49152..65535) that nothing holds right now. Taken from above
// Linux's ephemeral range (up to 60999), where no other test's unbound socket can land on it
// between this check and the bind.
uint16_t freeDialogPort()
{
    std::mt19937 random(std::random_device {}());
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto candidate = uint16_t(61000 + random() % 4536);
        if (RawUdpSocket("0.0.0.0", candidate).bound())
            return candidate;
    }
    return 0;
}

class PortDialog : public WindowTest
{
protected:
    void SetUp() override
    {
        // The stored port lies in the dialog's range, as one chosen through it does.
        port = freeDialogPort();
        ASSERT_NE(port, 0);
        storeSettings("Port=" + QByteArray::number(port) + "\n");
        form = &start(environment());
        dialog = std::make_unique<app::TfrmChangePort>(*form);
        dialog->show();
    }
    void TearDown() override { dialog.reset(); }

    QLineEdit &edPort() { return *dialog->controls().edPort; }
    int localPort() const { return form->Telefoon1()->Local_Port(); }
    QString shownPort() const { return form->lblLocalPort()->text(); }

    app::TForm1 *form = nullptr;
    std::unique_ptr<app::TfrmChangePort> dialog;
};

TEST_F(PortDialog, RefusesTextsOutsideTheRangeAndKeepsThePort)
{
    const QString stored = QString::number(port);
    EXPECT_EQ(edPort().text(), stored); // its first showing holds the stored port
    const QByteArray file = storedSettings();
    const struct
    {
        const char *text;
        QString message;
        int beeps;
        QString textAfter;
    } cases[] = {
        { "49151", "Port must be between 49152 and 65535", 1, stored },
        { "65536", "Port must be between 49152 and 65535", 1, stored },
        { "abc", "'abc' is not a valid integer value", 0, "abc" }, // pasted
        { "", "'' is not a valid integer value", 0, "" },
    };
    for (const auto &c : cases) {
        errors.clear();
        messages.beeps = 0;
        edPort().setText(QString::fromLatin1(c.text));
        QTest::mouseClick(dialog->controls().btnOK, Qt::LeftButton);
        EXPECT_EQ(errors.messages(), QStringList { c.message }) << c.text;
        EXPECT_EQ(messages.beeps, c.beeps) << c.text;
        EXPECT_EQ(edPort().text(), c.textAfter) << c.text;
        EXPECT_TRUE(dialog->isVisible()) << c.text;
        EXPECT_EQ(localPort(), int(port)) << c.text;
    }
    EXPECT_EQ(storedSettings(), file);
}

TEST_F(PortDialog, TypedCharactersOtherThanDigitsAreRefusedWithABeep)
{
    edPort().clear();
    QTest::keyClicks(&edPort(), QStringLiteral("5x0 1"));
    QTest::keyClick(&edPort(), Qt::Key_Backspace);
    EXPECT_EQ(edPort().text(), QStringLiteral("50"));
    EXPECT_EQ(errors.messages(), (QStringList { "Invadid entry: x", "Invadid entry:  " }));
    EXPECT_EQ(messages.beeps, 2);
}

TEST_F(PortDialog, OkMovesTheLocalPortShowsAndSavesItRemotePortStays)
{
    const uint16_t chosen = freeDialogPort();
    ASSERT_NE(chosen, 0);
    edPort().setText(QString::number(chosen));
    QTest::keyClick(&edPort(), Qt::Key_Return); // OK is the default button
    EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('\n').toStdString();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(localPort(), int(chosen));
    EXPECT_TRUE(form->Telefoon1()->voiceSocket().isBound());
    EXPECT_EQ(shownPort(), QString::number(chosen));
    EXPECT_EQ(form->Telefoon1()->Remote_Port(), int(port));
    EXPECT_TRUE(storedSettings().contains("Port=" + QByteArray::number(chosen) + "\n")) << storedSettings().constData();

    dialog->show(); // the text is not refreshed from the call component, it keeps what it held
    EXPECT_EQ(edPort().text(), QString::number(chosen));
}

TEST_F(PortDialog, ResetTakesEffectAtOnceAndCancelDoesNotUndoIt)
{
    if (!RawUdpSocket("0.0.0.0", 49217).bound())
        GTEST_SKIP() << "another program holds UDP port 49217 on this machine";
    const QByteArray file = storedSettings();
    QTest::mouseClick(dialog->controls().btnResetDefault, Qt::LeftButton);
    EXPECT_EQ(edPort().text(), QStringLiteral("49217"));
    EXPECT_EQ(shownPort(), QStringLiteral("49217"));
    EXPECT_EQ(localPort(), 49217);
    QTest::keyClick(&edPort(), Qt::Key_Escape); // Esc is Cancel
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(localPort(), 49217);
    EXPECT_TRUE(form->Telefoon1()->voiceSocket().isBound());
    EXPECT_EQ(storedSettings(), file);
}

TEST_F(PortDialog, APortHeldByAnotherProgramIsReportedAndTheOldPortKept)
{
    const uint16_t taken = freeDialogPort();
    RawUdpSocket holder("0.0.0.0", taken);
    ASSERT_TRUE(holder.bound());
    const QByteArray file = storedSettings();
    edPort().setText(QString::number(taken));
    QTest::mouseClick(dialog->controls().btnOK, Qt::LeftButton);
    EXPECT_EQ(errors.messages(),
        QStringList { QStringLiteral("UDP port %1 is already in use by another program").arg(taken) });
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(localPort(), int(port));
    EXPECT_TRUE(form->Telefoon1()->voiceSocket().isBound());
    EXPECT_EQ(shownPort(), QString::number(port));
    EXPECT_EQ(edPort().text(), QString::number(port));
    EXPECT_EQ(storedSettings(), file);
}

using Dialogs = WindowTest;

TEST_F(Dialogs, AboutBoxShowsItsLabelsAndOkBringsTheWindowUp)
{
    app::TForm1 &form = start(environment());
    app::TAboutBox about(&form);
    const Ui::TAboutBox &ui = about.controls();
    EXPECT_EQ(ui.lblProductName->text(), QStringLiteral("Tobrel"));
    EXPECT_EQ(ui.lblVersion->text(), QStringLiteral("v  1.3"));
    EXPECT_EQ(ui.Label1->text(), QStringLiteral("Voxhall"));
    EXPECT_FALSE(ui.ProgramIcon->pixmap().isNull());
    EXPECT_EQ(ui.Panel1->palette().color(QPalette::Window), QColor(0, 225, 225));
    const struct
    {
        controls::TLinkLabel *link;
        controls::LinkType kind;
        const char *hint;
    } links[] = { { ui.LinkLabel2, controls::ltEMAIL, "Send feedback" },
        { ui.LinkLabel1, controls::ltURL, "Visit website" } };
    for (const auto &l : links) {
        EXPECT_EQ(l.link->Choose(), l.kind) << l.hint;
        EXPECT_EQ(l.link->toolTip(), QString::fromLatin1(l.hint));
        EXPECT_GE(l.link->width(), l.link->label()->sizeHint().width()) << l.hint; // not cut off
    }

    form.hide();
    about.show();
    QTest::mouseClick(ui.OKButton, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(Dialogs, MenuItemsShowEachDialogModally)
{
    app::TForm1 &form = start(environment());
    app::createDialogs(form);
    const Ui::TForm1 &ui = form.controls();
    const struct
    {
        QAction *item;
        QString dialog;
    } items[] = { { ui.Ports, "app::TfrmChangePort" }, { ui.About1, "app::TAboutBox" } };
    for (const auto &i : items) {
        QStringList shown;
        QTimer::singleShot(0, [&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (top->isVisible() && qobject_cast<QDialog *>(top)) {
                    shown << QString::fromLatin1(top->metaObject()->className())
                            + (top->isModal() ? " modal" : " modeless");
                    top->close();
                }
            }
        });
        app::TForm1::click(i.item);
        EXPECT_EQ(shown, QStringList { i.dialog + " modal" });
    }
}

TEST_F(Dialogs, HelpOpensTheGuidesContentsAndIndexOnlyWhenItExists)
{
    QTemporaryDir dir;
    const QString guide = dir.filePath(app::kUserGuideName);
    ASSERT_TRUE(writeFile(guide, "<html></html>"));
    const struct
    {
        QString file;
        QStringList opened;
    } cases[] = {
        { guide, { QUrl::fromLocalFile(guide).toString(), QUrl::fromLocalFile(guide).toString() + "#index" } },
        { dir.filePath(QStringLiteral("missing.html")), {} },
    };
    for (const auto &c : cases) {
        QStringList opened;
        app::MainWindowEnvironment env = environment();
        env.userGuide = c.file;
        env.openHelp = [&](const QUrl &page) { opened << page.toString(); };
        app::TForm1 &form = start(env);
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_F1);
        app::TForm1::click(form.controls().HelpIndex);
        EXPECT_EQ(opened, c.opened) << c.file.toStdString();
        delete window.data();
    }
}

TEST(UserGuide, IsFoundBesideTheProgramOrInTheInstalledShareFolder)
{
    QTemporaryDir root;
    const QDir dir(root.path());
    const struct
    {
        const char *programDir;
        const char *guide;
    } cases[] = {
        { "build/src/app", "build/src/app/help/tobrel.html" },
        { "usr/bin", "usr/share/tobrel/help/tobrel.html" },
        { "opt/bin", nullptr },
    };
    for (const auto &c : cases) {
        if (c.guide) {
            const QString path = dir.filePath(QString::fromLatin1(c.guide));
            ASSERT_TRUE(dir.mkpath(QFileInfo(path).path()) && writeFile(path, "<html></html>"));
        }
        ASSERT_TRUE(dir.mkpath(QString::fromLatin1(c.programDir)));
        const QString found = app::findUserGuide(dir.filePath(QString::fromLatin1(c.programDir)));
        EXPECT_EQ(found, c.guide ? QFileInfo(dir.filePath(QString::fromLatin1(c.guide))).absoluteFilePath() : QString())
            << c.programDir;
    }
}

} // namespace
