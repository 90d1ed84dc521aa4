#include "framework/controlfiler.h"

#include "framework/component.h"

namespace framework {

namespace {

// Lends the control's declarations to the component-based filers.
class DeclaringComponent : public TComponent
{
public:
    explicit DeclaringComponent(const DefinePropertiesFunction &define)
        : m_define(define)
    { }
    void DefineProperties(TFiler &filer) override
    {
        if (m_define)
            m_define(filer);
    }

private:
    const DefinePropertiesFunction &m_define;
};

} // namespace

StoredProperties writeControlProperties(const DefinePropertiesFunction &defineProperties)
{
    DeclaringComponent component(defineProperties);
    return writeStoredProperties(component);
}

void readControlProperties(const DefinePropertiesFunction &defineProperties, const StoredProperties &stored)
{
    DeclaringComponent component(defineProperties);
    readStoredProperties(component, stored);
}

} // namespace framework
