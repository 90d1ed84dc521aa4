#pragma once

// Mailslots over UDP, with kernel32's calls and error numbers. A box name maps to one UDP port
// (boxPort()); the machine's receiving box is a socket bound to that port on every address, held
// exclusively, and a send is one datagram carrying the message bytes exactly. Names:
//
//   receiving   \\.\mailslot\NAME         createMailslot()
//   sending     \\*\mailslot\NAME         every machine of the LAN: one datagram to the broadcast
//                                         address of each up, broadcast-capable IPv4 interface
//               \\.\mailslot\NAME         this machine (loopback)
//               \\a.b.c.d\mailslot\NAME   one machine by dotted address
//
// "mailslot" is matched without regard to case; NAME must not be empty. A broadcast also reaches
// this machine's own box (the kernel delivers it locally). Other machine names are not looked up
// (a look-up could block for long on a LAN without name service): createFile() refuses them with
// ERROR_BAD_NETPATH.
//
// Threads: any thread; a handle may be queried on one thread while another reads it. A stale or
// foreign handle gives ERROR_INVALID_HANDLE, never a crash. Nothing here blocks: reads return at
// once and sends are non-blocking (a full socket buffer fails the write).

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace platform::mailslot {

using Handle = intptr_t;
constexpr Handle kInvalidHandle = -1; // INVALID_HANDLE_VALUE

constexpr uint32_t kNoMessage = 0xFFFFFFFF; // MAILSLOT_NO_MESSAGE, the next size when none waits

// Error numbers of lastError(), as the Windows ones.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_GEN_FAILURE = 31; // the system refused a socket
constexpr uint32_t ERROR_BAD_NETPATH = 53;
constexpr uint32_t ERROR_SEM_TIMEOUT = 121;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87; // a message longer than kMaxMessageSize
constexpr uint32_t ERROR_NETWORK_UNREACHABLE = 1231; // no target took the datagram

// The largest message a send can carry (one UDP datagram).
constexpr uint32_t kMaxMessageSize = 65507;

// UDP port of a box: 49152 + (FNV-1a 32-bit of the name, ASCII letters upper-cased, UTF-8 bytes)
// mod 16384. "MailBox" gives 60779.
uint16_t boxPort(const QString &boxName);

// The box name of a mailslot path ("\\X\mailslot\NAME"), and its machine part X; false when the
// text is not such a path.
bool splitMailslotName(const QString &path, QString &machine, QString &boxName);

// Creates this machine's receiving box "\\.\mailslot\NAME": any message size, reads return at once,
// room for about a thousand small messages until they are read (1 MiB asked; the system may cap it).
// kInvalidHandle when another holder (process or handle) has it (ERROR_ALREADY_EXISTS) or the name is
// not a local mailslot path (ERROR_INVALID_NAME).
Handle createMailslot(const QString &name);

// The size of the next waiting message (kNoMessage when none) and how many wait: 1 when one waits
// (a message of 0 bytes included), else 0. Either pointer may be null. Receiving boxes only.
bool getMailslotInfo(Handle box, uint32_t *nextSize, uint32_t *messageCount);

// Reads the next message into buffer. A message longer than size is not cut: the read fails with
// ERROR_INSUFFICIENT_BUFFER and the message stays waiting (ask getMailslotInfo for its size). With
// none waiting the read fails at once (ERROR_SEM_TIMEOUT, as with a zero time-out).
bool readFile(Handle box, void *buffer, uint32_t size, uint32_t *bytesRead);

// Opens a mailslot path for writing (see the table above). kInvalidHandle with ERROR_BAD_NETPATH for
// a machine that cannot be addressed, or "*" when no interface can broadcast.
Handle createFile(const QString &name);

// Sends data as one message to every target of a handle from createFile(). Succeeds when at least
// one target took the datagram; bytesWritten is then length, else 0.
bool writeFile(Handle file, const void *data, uint32_t length, uint32_t *bytesWritten);

// Closes a box or a sending handle.
bool closeHandle(Handle handle);

// The error number of the calling thread's last failed call.
uint32_t lastError();

// IPv4 broadcast addresses (network byte order) of the up, broadcast-capable, non-loopback
// interfaces, each once, in the system's interface order.
std::vector<uint32_t> interfaceBroadcastAddresses();

// Where a send to "*" goes: interfaceBroadcastAddresses() unless a provider is installed. Tests
// install one that answers loopback, so that nothing they send leaves the machine. Returns the
// previous provider (empty: the default). Any thread.
using BroadcastTargets = std::function<std::vector<uint32_t>()>;
BroadcastTargets setBroadcastTargets(BroadcastTargets provider);

} // namespace platform::mailslot
