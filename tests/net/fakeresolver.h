#pragma once

#include "platform/hostresolver.h"
#include "platform/winsock.h"

#include <QMap>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace testsupport {

// A host resolver for tests: answers known names after a delay (never, for delay -1), everything
// else with "host not found". Installed for the lifetime of the object; records every name asked.
class FakeResolver : public platform::HostResolver
{
public:
    struct State
    {
        QMap<QString, QString> hosts; // name -> dotted address
        int delayMs = 0;
        QStringList asked;
    };

    static std::shared_ptr<State> install()
    {
        auto state = std::make_shared<State>();
        platform::setHostResolver(std::make_unique<FakeResolver>(state));
        return state;
    }

    explicit FakeResolver(std::shared_ptr<State> state)
        : m_state(std::move(state))
    { }

    void lookup(const QString &name, QObject *context, std::function<void(const platform::HostLookup &)> done) override
    {
        m_state->asked << name;
        if (m_state->delayMs < 0)
            return;
        platform::HostLookup result;
        if (m_state->hosts.contains(name))
            result.addresses.push_back(platform::winsock::inetAddr(m_state->hosts.value(name)));
        else
            result.error = platform::winsock::WSAHOST_NOT_FOUND;
        QTimer::singleShot(m_state->delayMs, context, [done = std::move(done), result] { done(result); });
    }

private:
    std::shared_ptr<State> m_state;
};

// Restores the system resolver when a test ends.
struct ResolverGuard
{
    ~ResolverGuard() { platform::setHostResolver(nullptr); }
};

} // namespace testsupport
