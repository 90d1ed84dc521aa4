#pragma once

#include "framework/application.h"
#include "support/printers.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <vector>

namespace testsupport {

// Collects what reaches the application's error reporting while it lives.
class ExceptionRecorder
{
public:
    struct Entry
    {
        QPointer<QObject> sender;
        QObject *rawSender = nullptr;
        QString message;
    };

    ExceptionRecorder();
    ~ExceptionRecorder();
    ExceptionRecorder(const ExceptionRecorder &) = delete;
    ExceptionRecorder &operator=(const ExceptionRecorder &) = delete;

    const std::vector<Entry> &entries() const { return m_entries; }
    QStringList messages() const;
    void clear() { m_entries.clear(); }

private:
    std::vector<Entry> m_entries;
    framework::Application::ExceptionHandler m_previous;
};

// Collects ShowMessage texts and counts beeps while it lives.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QStringList messages;
    int beeps = 0;

private:
    framework::Application::MessageHandler m_previousMessage;
    framework::Application::BeepHandler m_previousBeep;
};

} // namespace testsupport
