#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>

namespace framework {

class TFiler;

// Base of every component: the owner is the QObject parent and frees the component with itself.
// A component's published properties are its setters; stored design values are applied through
// them in published order between beginLoading() and endLoading(), and endLoading() then runs
// Loaded(), the after-loading notification (loadStored() does all three).
class TComponent : public QObject
{
    Q_OBJECT

public:
    explicit TComponent(QObject *owner = nullptr);
    ~TComponent() override;

    QObject *owner() const { return parent(); }

    bool isLoading() const { return m_loading; }
    bool isDestroying() const { return m_destroying; }

    void beginLoading();
    void endLoading();
    // Applies stored design values (setter calls) and then runs Loaded(), as a form load does.
    void loadStored(const std::function<void()> &applyStoredValues);

    // Declares properties stored as raw bytes (see propertyfiler.h). None by default.
    virtual void DefineProperties(TFiler &filer);

protected:
    // Calls an event handler, when one is assigned. Any handler may free the component that fires
    // it; the result tells whether this component still exists, and the caller touches nothing of
    // it when it does not: an operation raises the component's error, a notice simply ends.
    template<typename Handler, typename... Args> bool fire(const Handler &handler, Args &&...args)
    {
        if (!handler)
            return true;
        const QPointer<TComponent> self(this);
        handler(std::forward<Args>(args)...);
        return !self.isNull();
    }

    // After-loading notification. Overrides call the base first.
    virtual void Loaded();
    // Destructors that must know they are tearing down (to keep events quiet, for example) call
    // this first, as the framework's destroying state did.
    void markDestroying() { m_destroying = true; }

private:
    bool m_loading = false;
    bool m_destroying = false;
};

} // namespace framework
