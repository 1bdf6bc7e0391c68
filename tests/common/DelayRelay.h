#pragma once

#include <QString>

#include <memory>

/// A TCP relay on 127.0.0.1 that forwards every byte to a target after a
/// fixed delay in each direction, so that a local server looks far away
/// (50 ms each way is a server 100 ms round trip away). Bytes keep their
/// order. Runs in a thread of its own, so a caller whose thread blocks on
/// the network does not stall the relay. Construct and destroy in one thread.
class DelayRelay
{
public:
    DelayRelay(const QString& targetHost, quint16 targetPort, int delayMs);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    /// The port the relay listens on (0 when it could not listen).
    quint16 port() const;
    /// While paused, bytes are taken in but nothing is delivered in either
    /// direction: a test shows that a thread goes on while its request is held.
    void setPaused(bool on);
    /// Connections accepted so far.
    int connections() const;

private:
    class Worker;
    std::unique_ptr<Worker> worker;
};
