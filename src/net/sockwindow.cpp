#include "net/sockwindow.h"

#include "net/sockbase.h"

namespace net {

namespace {
const QString kSocketWindowClass = QStringLiteral("SockBaseWindowClass");
}

std::unique_ptr<framework::NoticeSink> createSocketWindow(TSockBase *component)
{
    return std::make_unique<framework::NoticeSink>(
        kSocketWindowClass, component, [component](const framework::Notice &notice) {
            if (component && notice.message >= TSockBase::SocketMessage
                && notice.message <= TSockBase::ReadChunkMessage)
                component->DispatchSocketMessage(notice.message, notice.wParam, notice.lParam);
        });
}

} // namespace net
