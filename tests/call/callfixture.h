#pragma once

#include "call/telefoon.h"
#include "net/udptestpeer.h"
#include "roombackend.h"

#include "support/eventwait.h"
#include "support/recorders.h"

#include <QStringList>

#include <memory>

namespace testsupport {

// One call component on its own loopback ports, recording every event as "Event: text".
struct Side
{
    explicit Side(uint16_t localPort, uint16_t pingPort);

    // Declared before the component: its destructor may still fire events into them.
    QStringList events;
    QObject *calledSender = nullptr;
    QObject *noResponceSender = nullptr;
    call::TTelefoon phone;

    int count(const QString &prefix) const;
    bool waitFor(const QString &event, int occurrences = 1, int timeoutMs = 5000);
};

// Two sides, A and B, on fresh ports of 127.0.0.1, A's remote port set to B's local port, both
// with the real-time room backend: A's microphone plays the first tone (440 Hz unless given), B's
// the second (1300 Hz) (inputs are numbered in the order they open, so A must open its audio
// first).
class TwoSides
{
public:
    explicit TwoSides(std::vector<double> tones = { 440.0, 1300.0 });
    ~TwoSides();

    std::shared_ptr<RoomBackend> room;
    ExceptionRecorder errors; // before the sides: the construction-time port reports land here
    MessageRecorder messages;
    std::unique_ptr<Side> a;
    std::unique_ptr<Side> b;
    uint16_t portA = 0;
    uint16_t portB = 0;
};

} // namespace testsupport
