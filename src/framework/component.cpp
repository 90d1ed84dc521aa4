#include "framework/component.h"

namespace framework {

TComponent::TComponent(QObject *owner)
    : QObject(owner)
{ }

TComponent::~TComponent()
{
    m_destroying = true;
}

void TComponent::beginLoading()
{
    m_loading = true;
}

void TComponent::endLoading()
{
    Loaded();
}

void TComponent::loadStored(const std::function<void()> &applyStoredValues)
{
    beginLoading();
    if (applyStoredValues)
        applyStoredValues();
    endLoading();
}

void TComponent::DefineProperties(TFiler &)
{ }

void TComponent::Loaded()
{
    m_loading = false;
}

} // namespace framework
