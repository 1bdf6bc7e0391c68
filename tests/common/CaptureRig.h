#pragma once
// The capture engine wired as the proxy wires it, without the proxy: a
// loopback listener hands every connection to a session manager whose
// profile names the server to relay to.

#include "MngrSessions.h"
#include "Session.h"
#include "Settings.h"

#include <QTcpServer>
#include <QtTest>

#include <functional>

/// Hands every accepted connection to `mngr`, as the proxy does; the
/// sessions are its children, so destroying it ends their threads.
class CaptureListener : public QTcpServer
{
public:
    explicit CaptureListener(MngrSessions* m) : mngr(m) { listen(QHostAddress::LocalHost, 0); }

    /// Runs right after each connection was handed over, in the same turn.
    std::function<void()> afterAccept;

protected:
    void incomingConnection(qintptr fd) override
    {
        mngr->pendingSession(int(fd), this);
        if (afterAccept)
            afterAccept();
    }

private:
    MngrSessions* mngr;
};

/// Members end in reverse order: the sessions before their manager.
struct CaptureRig
{
    Settings settings;
    MngrSessions mngr{&settings};
    CaptureListener listener{&mngr};

    CaptureRig(const QString& host, quint16 port)
    {
        settings.currentProfile()->Host = host;
        settings.currentProfile()->Port = port;
    }
    quint16 port() const { return listener.serverPort(); }
    /// Waits until every connection has closed and its Session is freed.
    bool allClosed()
    {
        return QTest::qWaitFor([this] { return listener.findChildren<Session*>().isEmpty(); }, 60000);
    }
};
