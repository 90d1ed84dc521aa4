#pragma once

#include "framework/propertyfiler.h"

#include <functional>

namespace framework {

// Visual controls are widgets, and a class has room for one QObject base only, so they cannot be
// TComponents; yet they declare raw stored properties the same way. These run a control's
// property declarations (its DefineProperties) through the same writing and reading filers.
using DefinePropertiesFunction = std::function<void(TFiler &filer)>;

StoredProperties writeControlProperties(const DefinePropertiesFunction &defineProperties);
// The caller marks its control as loading around this call, as form reading does.
void readControlProperties(const DefinePropertiesFunction &defineProperties, const StoredProperties &stored);

} // namespace framework
