#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

/// One captured statement as quarvel-capture prints it. Plain value.
struct CapturedStatement
{
    QDateTime finishedAt;     ///< when the answer was complete
    quint64 session = 0;      ///< session number
    QString user;
    QString database;
    double durationMs = 0;
    qint64 rows = 0;
    double kbReceived = 0;    ///< the answer, as the client received it
    double kbSent = 0;        ///< the request, as the client sent it
    bool error = false;
    QString text;
};

/// Lines printed per statement and session, and the summary at the end.
/// Not thread-safe: one owner (the main thread).
class CaptureReport
{
public:
    /// The statement on one line: line breaks and tabs become blanks, runs of
    /// blanks one blank, no blanks at either end.
    static QString oneLine(const QString& text);
    /// Tab-separated: finished at, session, user, database, duration ms,
    /// rows, KiB received, KiB sent, error flag (0/1), statement on one line.
    static QString statementLine(const CapturedStatement& s);
    /// Session numbers are shown filled to 7 digits with "0".
    static QString sessionNumber(quint64 id);

    void addSession() { ++sessionCount; }
    /// Sessions are saved into the archive `path`; the summary counts them.
    void setArchive(const QString& path) { archivePath = path; }
    void addArchived() { ++archivedCount; }
    void addArchiveFailure() { ++archiveFailures; }
    int archived() const { return archivedCount; }
    int notArchived() const { return archiveFailures; }
    void addStatement(const CapturedStatement& s);

    int sessions() const { return sessionCount; }
    qint64 statements() const { return statementCount; }
    qint64 errors() const { return errorCount; }
    /// Mean duration in ms of every statement; 0 without statements.
    double meanDurationMs() const;

    struct Entry
    {
        QString text;
        qint64 count = 0;
        double totalMs = 0;
    };
    /// The `limit` most frequent statements (by their one-line text), the most
    /// frequent first; equal counts by larger total duration, then by text.
    QList<Entry> top(int limit) const;

    /// The summary printed at the end (lines starting with "#", and the top
    /// statements tab-separated: count, total ms, mean ms, statement). With
    /// an archive, "# archived sessions" with the count and the file, and
    /// "# sessions not archived" when some failed.
    QString summary() const;

private:
    int sessionCount = 0;
    qint64 statementCount = 0;
    qint64 errorCount = 0;
    double totalMs = 0;
    QHash<QString, Entry> byText;
    QString archivePath;
    int archivedCount = 0;
    int archiveFailures = 0;
};
