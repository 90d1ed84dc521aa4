#include "net/threadtimer.h"

namespace net {

TThreadTimer::TThreadTimer(QObject *owner)
    : TTimer(owner, QString::fromLatin1(kWindowClass), QStringLiteral("No Timer"))
{ }

TThreadTimer::~TThreadTimer()
{
    stop();
}

void TThreadTimer::Tick()
{
    if (OnTimer())
        OnTimer()(this);
}

void TThreadTimer::Timer()
{
    Tick();
}

} // namespace net
