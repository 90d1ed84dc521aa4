#pragma once

#include "framework/noticesink.h"

#include <memory>

namespace net {

class TSockBase;

// The socket component's hidden notice window ("SockBaseWindowClass", registered once for all
// components). It hands the messages WM_USER+101 to WM_USER+104 to the bound component's
// DispatchSocketMessage and ignores every other message; a window bound to no component ignores
// everything. Owned by the caller; lives on the creating thread.
std::unique_ptr<framework::NoticeSink> createSocketWindow(TSockBase *component);

} // namespace net
