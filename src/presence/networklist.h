#pragma once

// The presence rules, without a window: every copy announces its addresses through its mailslot
// component, and each copy keeps two lists built from what it hears.
//
//   raw list       "127.0.0.1" after AnnounceSelf, then one entry per announcement heard, in
//                  arrival order, duplicates included. An entry is the announced text (which ends
//                  in CR LF) followed directly by the sender's computer name:
//                  "192.168.1.5\r\nOFFICE2". The window mirrors it into its hidden ListBox1.
//   address list   RebuildNetworkList(raw list): sorted, duplicates removed; the window replaces
//                  ComboBox1's items with it and selects item 0 (nothing when it is empty). An
//                  entry chosen from it is a valid call address: the address parser reads the
//                  dotted address in front of the line break.
//
// Message texts: "Resend" (forget your list and announce yourself again), "Stop" (end your call),
// and a dotted address (an announcement).
//
// A window's handlers stay thin, for example:
//
//   void TForm1::RefreshNetworkList1Click()
//   {
//       QStringList raw = rawListItems(); // ListBox1
//       presence::RefreshNetworkList(raw, presence::LocalIPs(), sendThroughMailSlot1);
//       setRawListItems(raw);
//   }
//   void TForm1::MailSlot1NewMessage(QObject *, const QString &Computer, const QString &,
//                                    const QString &Text)
//   {
//       QStringList raw = rawListItems();
//       const presence::MessageKind kind
//           = presence::HandleNewMessage(raw, Computer, Text, presence::LocalIPs(), sendThroughMailSlot1);
//       setRawListItems(raw);
//       if (kind == presence::MessageKind::Stop)
//           clickStopConnectionIfEnabled(); // acts only in a call; it broadcasts "Stop" itself
//       RebuildNetworkList(); // ComboBox1 := presence::RebuildNetworkList(raw), select item 0
//   }
//
// All functions are pure or call only the given send function; GUI thread (any thread when the
// send function allows it).

#include <QString>
#include <QStringList>

#include <functional>

namespace presence {

extern const QString kResend; // "Resend"
extern const QString kStop; // "Stop"
extern const QString kLoopbackEntry; // "127.0.0.1", the raw list's first entry

// How many local addresses are announced at most.
constexpr int kMaxLocalIPs = 11;
// How many entries the raw list takes at most (11 addresses of 93 copies); further announcements
// before the next refresh are dropped, so that a flood from the network cannot use up the memory.
constexpr int kMaxRawEntries = 1024;
// How long one raw-list entry (announced text plus computer name) may be; a longer announcement
// is dropped. A dotted address (at most 15), its line break and the longest computer name a
// sender's 255-character name buffer holds fit, while one datagram can carry 64 KiB of line
// breaks, which the list would keep and every rebuild compare: a flood of those froze the window.
constexpr int kMaxEntryLength = 15 + 2 + 255;

// Sends one message text to every copy (TMailSlot::Send).
using SendText = std::function<void(const QString &text)>;

// The local address table: this machine's IPv4 addresses in dotted form, the default route's
// interface first, at most kMaxLocalIPs; looked up once, on the first call (call it before any
// window exists). Empty when the machine has no address. Slot 0 is the address a window shows.
const QStringList &LocalIPs();
// A fresh look-up of the same (LocalIPs() keeps the first one).
QStringList findLocalIPs();

// AnnounceSelf: the raw list becomes "127.0.0.1" alone, then every local address is sent, in order.
void AnnounceSelf(QStringList &rawList, const QStringList &localIPs, const SendText &send);

// RefreshNetworkList1Click: sends "Resend", then AnnounceSelf.
void RefreshNetworkList(QStringList &rawList, const QStringList &localIPs, const SendText &send);

enum class MessageKind
{
    Resend, // the text begins with "Resend"
    Stop, // the text begins with "Stop"
    Announcement, // anything else
};

// Only the prefix counts (exact, case-sensitive): "Stopped" is a stop, "stop" an announcement.
MessageKind messageKind(const QString &text);

// The rules for a received message, but for the two steps that belong to the caller: a Resend
// runs AnnounceSelf; an announcement appends text + computer to the raw list (unless the list is
// full or the entry longer than kMaxEntryLength); a Stop changes nothing here, and the caller then
// clicks its "Stop Connection" command, which acts only while it is in a call. In every case the
// caller rebuilds its address list afterwards.
MessageKind HandleNewMessage(QStringList &rawList, const QString &computer, const QString &text,
    const QStringList &localIPs, const SendText &send);

// The address list of a raw list: sorted by the locale's rules without regard to letter case, and
// of entries that compare equal that way only the first kept.
QStringList RebuildNetworkList(const QStringList &rawList);

// The order RebuildNetworkList uses (<0, 0, >0); for inserting a typed entry in sorted position.
int compareEntries(const QString &a, const QString &b);

} // namespace presence
