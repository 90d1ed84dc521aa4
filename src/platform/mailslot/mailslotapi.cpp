#include "platform/mailslot/mailslotapi.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace platform::mailslot {

namespace {

thread_local uint32_t t_lastError = ERROR_SUCCESS;

template<typename Result> Result fail(uint32_t error, Result result)
{
    t_lastError = error;
    return result;
}

// One open handle: a bound receiving socket, or a sending socket with its targets.
struct Slot
{
    explicit Slot(int descriptor)
        : fd(descriptor)
    { }
    ~Slot() { ::close(fd); }
    Slot(const Slot &) = delete;
    Slot &operator=(const Slot &) = delete;

    int fd;
    bool receiving = false;
    std::vector<sockaddr_in> targets;
};

// Handles stay valid for a call in progress on another thread even when closed meanwhile: the
// call holds its own reference.
struct Registry
{
    std::mutex mutex;
    std::unordered_map<Handle, std::shared_ptr<Slot>> handles;
    Handle next = 1;
    BroadcastTargets broadcastTargets;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

std::shared_ptr<Slot> find(Handle handle)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.handles.find(handle);
    return it == r.handles.end() ? nullptr : it->second;
}

Handle add(std::shared_ptr<Slot> slot)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    const Handle handle = r.next++;
    r.handles.emplace(handle, std::move(slot));
    return handle;
}

sockaddr_in socketAddress(uint32_t networkAddress, uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = networkAddress;
    address.sin_port = htons(port);
    return address;
}

// A mailslot queues what arrives until it is read, while a socket's default buffer holds only a
// few hundred small datagrams: fewer than the announcements one refresh brings in from a large LAN
// within a polling period. The system caps the request (the forced form needs CAP_NET_ADMIN).
void raiseReceiveBuffer(int fd)
{
    constexpr int kReceiveBufferBytes = 1 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
}

int newSocket()
{
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// The length of the next datagram without taking it; -1 when none waits.
ssize_t peekLength(int fd)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        char byte;
        const ssize_t length = ::recv(fd, &byte, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (length >= 0)
            return length;
        // A pending socket error (an ICMP report) is returned once and cleared: ask again.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
    }
    return -1;
}

} // namespace

uint16_t boxPort(const QString &boxName)
{
    uint32_t hash = 0x811C9DC5u;
    for (char byte : boxName.toUtf8()) {
        const char upper = (byte >= 'a' && byte <= 'z') ? char(byte - 'a' + 'A') : byte;
        hash ^= uint8_t(upper);
        hash *= 0x01000193u;
    }
    return uint16_t(49152 + hash % 16384);
}

bool splitMailslotName(const QString &path, QString &machine, QString &boxName)
{
    if (!path.startsWith(QLatin1String("\\\\")))
        return false;
    const qsizetype machineEnd = path.indexOf(QLatin1Char('\\'), 2);
    if (machineEnd <= 2)
        return false;
    const QString marker = QStringLiteral("\\mailslot\\");
    if (path.mid(machineEnd, marker.size()).compare(marker, Qt::CaseInsensitive) != 0)
        return false;
    const QString name = path.mid(machineEnd + marker.size());
    if (name.isEmpty())
        return false;
    machine = path.mid(2, machineEnd - 2);
    boxName = name;
    return true;
}

Handle createMailslot(const QString &name)
{
    QString machine;
    QString box;
    if (!splitMailslotName(name, machine, box) || machine != QLatin1String("."))
        return fail(ERROR_INVALID_NAME, kInvalidHandle);
    const int fd = newSocket();
    if (fd < 0)
        return fail(ERROR_GEN_FAILURE, kInvalidHandle);
    auto slot = std::make_shared<Slot>(fd);
    slot->receiving = true;
    raiseReceiveBuffer(fd);
    // Bound on every address (a socket bound to one address receives no broadcasts) and without
    // address or port reuse, so that one holder per machine has the box.
    const sockaddr_in address = socketAddress(htonl(INADDR_ANY), boxPort(box));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return fail(errno == EADDRINUSE ? ERROR_ALREADY_EXISTS : ERROR_GEN_FAILURE, kInvalidHandle);
    return add(std::move(slot));
}

bool getMailslotInfo(Handle box, uint32_t *nextSize, uint32_t *messageCount)
{
    const std::shared_ptr<Slot> slot = find(box);
    if (!slot || !slot->receiving)
        return fail(ERROR_INVALID_HANDLE, false);
    const ssize_t length = peekLength(slot->fd);
    if (nextSize)
        *nextSize = length < 0 ? kNoMessage : uint32_t(length);
    if (messageCount)
        *messageCount = length < 0 ? 0 : 1;
    return true;
}

bool readFile(Handle box, void *buffer, uint32_t size, uint32_t *bytesRead)
{
    if (bytesRead)
        *bytesRead = 0;
    const std::shared_ptr<Slot> slot = find(box);
    if (!slot || !slot->receiving)
        return fail(ERROR_INVALID_HANDLE, false);
    const ssize_t waiting = peekLength(slot->fd);
    if (waiting < 0)
        return fail(ERROR_SEM_TIMEOUT, false);
    if (uint64_t(waiting) > size)
        return fail(ERROR_INSUFFICIENT_BUFFER, false);
    char spare;
    const ssize_t length = ::recv(slot->fd, buffer ? buffer : &spare, size, MSG_DONTWAIT);
    if (length < 0)
        return fail(ERROR_SEM_TIMEOUT, false);
    if (bytesRead)
        *bytesRead = uint32_t(length);
    return true;
}

Handle createFile(const QString &name)
{
    QString machine;
    QString box;
    if (!splitMailslotName(name, machine, box))
        return fail(ERROR_INVALID_NAME, kInvalidHandle);
    std::vector<uint32_t> addresses;
    if (machine == QLatin1String("*")) {
        addresses = [] {
            BroadcastTargets provider;
            {
                Registry &r = registry();
                const std::lock_guard lock(r.mutex);
                provider = r.broadcastTargets;
            }
            return provider ? provider() : interfaceBroadcastAddresses();
        }();
    } else if (machine == QLatin1String(".")) {
        addresses.push_back(htonl(INADDR_LOOPBACK));
    } else {
        in_addr address {};
        if (::inet_pton(AF_INET, machine.toLatin1().constData(), &address) == 1)
            addresses.push_back(address.s_addr);
    }
    if (addresses.empty())
        return fail(ERROR_BAD_NETPATH, kInvalidHandle);

    const int fd = newSocket();
    if (fd < 0)
        return fail(ERROR_GEN_FAILURE, kInvalidHandle);
    auto slot = std::make_shared<Slot>(fd);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const uint16_t port = boxPort(box);
    for (uint32_t address : addresses)
        slot->targets.push_back(socketAddress(address, port));
    return add(std::move(slot));
}

bool writeFile(Handle file, const void *data, uint32_t length, uint32_t *bytesWritten)
{
    if (bytesWritten)
        *bytesWritten = 0;
    const std::shared_ptr<Slot> slot = find(file);
    if (!slot || slot->receiving)
        return fail(ERROR_INVALID_HANDLE, false);
    if (length > kMaxMessageSize)
        return fail(ERROR_INVALID_PARAMETER, false);
    const char spare = 0;
    bool sent = false;
    for (const sockaddr_in &target : slot->targets) {
        const ssize_t result = ::sendto(slot->fd, data ? data : &spare, length, MSG_DONTWAIT | MSG_NOSIGNAL,
            reinterpret_cast<const sockaddr *>(&target), sizeof target);
        sent = sent || result == ssize_t(length);
    }
    if (!sent)
        return fail(ERROR_NETWORK_UNREACHABLE, false);
    if (bytesWritten)
        *bytesWritten = length;
    return true;
}

bool closeHandle(Handle handle)
{
    std::shared_ptr<Slot> slot;
    {
        Registry &r = registry();
        const std::lock_guard lock(r.mutex);
        const auto it = r.handles.find(handle);
        if (it == r.handles.end())
            return fail(ERROR_INVALID_HANDLE, false);
        slot = std::move(it->second);
        r.handles.erase(it);
    }
    return true; // the socket closes with the last reference, outside the lock
}

uint32_t lastError()
{
    return t_lastError;
}

std::vector<uint32_t> interfaceBroadcastAddresses()
{
    std::vector<uint32_t> result;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_broadaddr)
            continue;
        const unsigned flags = entry->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        const uint32_t address = reinterpret_cast<const sockaddr_in *>(entry->ifa_broadaddr)->sin_addr.s_addr;
        if (address != 0 && std::find(result.begin(), result.end(), address) == result.end())
            result.push_back(address);
    }
    ::freeifaddrs(list);
    return result;
}

BroadcastTargets setBroadcastTargets(BroadcastTargets provider)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    BroadcastTargets previous = std::move(r.broadcastTargets);
    r.broadcastTargets = std::move(provider);
    return previous;
}

} // namespace platform::mailslot
