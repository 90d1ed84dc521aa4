#pragma once

#include "call/adaptiveplayout.h"
#include "call/codectable.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace peer {

// What the command line asks of the headless intercom.
struct PeerOptions
{
    int port = 49217; // local UDP port for calls
    int remotePort = 0; // 0: the same as port
    int pingPort = 8001; // local ping port
    int remotePingPort = 8001; // ping port of the other side (default: the same as pingPort)
    QString callAddress; // place a call to this address at start
    QString pingAddress; // send a ping to this address at start
    call::Tverbinding codec = call::Tverbinding::GSM610;
    call::Playout playout = call::Playout::Designed;
    bool autoSynchronise = true; // the designed playout's random thinning (--playout off clears it)
    QString inputWav; // microphone from this WAV file instead of the sound card
    QString outputWav; // speaker into this WAV file instead of the sound card
    QString localIp; // address announced in call requests; empty: the one the callee is reached from
    bool mute = false; // listen only (half duplex, never speaks)
    bool autoAnswer = true;
    bool reject = false; // reject every call
    QString text; // sent to the other side once a call is connected
    bool stay = false; // keep running after --call and --ping are done
    int durationSeconds = 0; // hang up and exit after this long; 0: run until interrupted
    int waitSeconds = 15; // no-answer time-out of a placed call and of a ping
    int volume = 0; // 0: leave the device's volume; 1..100 otherwise
    bool presence = true; // hold the presence box, announce this copy, keep the address list
    bool listOnly = false; // refresh the address list once, print it and exit (no calls)
};

struct ParseResult
{
    std::optional<PeerOptions> options; // none: do not run
    QString message; // help text, or the reason the arguments were refused
    int exitCode = 0;
};

// Parses the program's arguments (arguments[0] is the program name).
ParseResult parsePeerOptions(const QStringList &arguments);

// "gsm610", "pcm8", "pcm11", "pcm22", "lh4", "lh8" (any case); none for anything else.
std::optional<call::Tverbinding> codecByName(const QString &name);
// Whether a codec driver on this system codes the codec's format.
bool hasCodecDriver(call::Tverbinding codec);

} // namespace peer
