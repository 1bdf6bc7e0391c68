#pragma once

#include "MysqlLinkTracker.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QTime>

class QTcpSocket;
class QTimer;
class Settings;

/// The relay of one client connection: forwards every byte in both
/// directions as soon as it is read (never altered, reordered or held back)
/// and reports the traffic to the decoder, one signal per unit of whole
/// packets. A server that closes or cannot be reached closes the client too.
/// Lives in its own thread (moved into itself); stop() may be called from
/// any thread, everything else runs in the relay thread.
class ThreadSession : public QThread
{
    Q_OBJECT
public:
    ThreadSession(int socketDescriptor, QObject* parent = nullptr);
    /// The server is the current profile's Host and Port, read when the thread starts.
    ThreadSession(int socketDescriptor, Settings* settings, QObject* parent = nullptr);
    ~ThreadSession() override;

    /// Call before start().
    void setSettings(Settings* settings) { m_settings = settings; }
    /// Overrides the profile's server address; call before start().
    void setServerAddress(const QString& host, quint16 port);

    /// Closes the client side, which ends the relay. [thread-safe]
    void stop();

    /// Units reported to the decoder so far (both directions); relay thread only.
    quint64 unitsReported() const { return m_units; }

signals:
    /// Client bytes forwarded to the server.
    void clientData(QByteArray data);
    /// Server bytes forwarded to the client; `ms` runs from the first byte
    /// of the client's command to the moment the last of these bytes was
    /// forwarded.
    void mysqlData(QByteArray data, double ms);
    /// The connection ended; its lifetime as a time of day from 00:00:00.000.
    void disconnectSession(QTime time);

public slots:
    void readClient();
    void readMysql();
    /// The client closed (or the relay ends): close the server side, report.
    void disconnectDb();

protected:
    void run() override;

private slots:
    void serverClosed();
    void clientWritten();

private:
    void flushClientReport();
    void flushServerReport();

    int socketDescriptor;
    Settings* m_settings = nullptr;
    QString m_host;
    quint16 m_port = 0;
    bool m_addressSet = false;

    QTcpSocket* client = nullptr;
    QTcpSocket* server = nullptr;
    QTimer* connectTimer = nullptr;
    QElapsedTimer clock;               ///< the relay's monotonic clock
    qint64 connectionStartNs = -1;     ///< first server bytes
    qint64 requestStartNs = 0;         ///< first byte of the latest client command
    MysqlLinkTracker tracker;
    QByteArray clientReport;
    QByteArray serverReport;
    double serverReportMs = 0;
    bool serverPaused = false;
    bool serverGone = false;
    bool ended = false;
    quint64 m_units = 0;
};
