#pragma once

#include "app/mainwindow.h"
#include "platform/mailslot/mailslotapi.h"

#include "call/roombackend.h"
#include "support/recorders.h"

#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace call {
class TTelefoon;
}
namespace presence {
class TMailSlot;
}

namespace testsupport {

// A main window offscreen on real-time simulated sound devices (several at once, so that a peer
// call component in the same process has its own), with its settings file in a folder of its
// own, a presence box of its own whose broadcasts stay on loopback, its own ports, and the
// addresses 192.0.2.7 and 198.51.100.9 as the local address table.
class WindowTest : public ::testing::Test
{
protected:
    WindowTest();
    ~WindowTest() override;

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("tobrel.dat")); }
    // Stores a settings file: the given lines under the "Voxhall Settings" header.
    void storeSettings(const QByteArray &lines);
    QByteArray storedSettings() const;

    // Runs the whole start-up; the window is freed by the fixture unless closed before.
    app::TForm1 &start(app::MainWindowEnvironment environment = {});
    app::MainWindowEnvironment environment() const;

    // Holds the window's presence box before the window starts (the window then only sends) and
    // records every text that reaches it.
    void listenToBroadcasts();
    bool waitForBroadcast(const QString &text, int timeoutMs = 5000);

    // A call component on a port of its own that reaches the window's port, answering by itself.
    call::TTelefoon &peer();

    std::shared_ptr<RoomBackend> devices = std::make_shared<RoomBackend>(std::vector<double> { 440, 1300 });
    ExceptionRecorder errors;
    MessageRecorder messages;
    QStringList broadcasts;
    QStringList peerEvents;
    uint16_t port = 0;
    QString mailBox;
    QPointer<app::TForm1> window;

private:
    QTemporaryDir m_dir;
    platform::mailslot::BroadcastTargets m_previousTargets;
    std::unique_ptr<presence::TMailSlot> m_listener;
    std::unique_ptr<call::TTelefoon> m_peer;
};

} // namespace testsupport
