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

    /// Distinct texts counted at most; an application sending ever new texts
    /// (literal values in every statement) would otherwise grow the program
    /// without end. When a new text finds the table full, the rarer half of
    /// it is let go: every entry whose count is at most the median count.
    /// A text let go and seen again counts from then on, so a listed count
    /// may be short by at most shortBy().
    void setMaxTexts(int n) { maxTexts = qMax(2, n); }
    /// Distinct texts let go so far, and the statements they had counted.
    qint64 textsLetGo() const { return letGoTexts; }
    qint64 statementsLetGo() const { return letGoStatements; }
    /// The most a listed count can be short by (the sum of the medians cut at).
    qint64 shortBy() const { return cutTotal; }

    /// The summary printed at the end (lines starting with "#", and the top
    /// statements tab-separated: count, total ms, mean ms, statement). With
    /// an archive, "# archived sessions" with the count and the file, and
    /// "# sessions not archived" when some failed; when texts were let go, a
    /// line saying how many and how short a listed count may be.
    QString summary() const;

private:
    int sessionCount = 0;
    qint64 statementCount = 0;
    qint64 errorCount = 0;
    double totalMs = 0;
    QHash<QString, Entry> byText;
    int maxTexts = 50000;
    qint64 letGoTexts = 0;
    qint64 letGoStatements = 0;
    qint64 cutTotal = 0;
    void letGoRareTexts();
    QString archivePath;
    int archivedCount = 0;
    int archiveFailures = 0;
};
