#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace framework {

// Base of every exception a component raises. The message is the text the user sees, so it is
// kept exactly as given (no prefix, no location).
class Exception : public std::exception
{
public:
    explicit Exception(QString message);

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// The run-time range error: a value that does not fit the type it is stored in.
class ERangeError : public Exception
{
public:
    ERangeError();
};

// Text of any escaping exception, for error reporting.
QString exceptionMessage(const std::exception_ptr &error);

} // namespace framework
