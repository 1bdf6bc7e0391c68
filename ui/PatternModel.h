#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

class PatternStats;

/// A table over pattern statistics (statement patterns or tables): one row
/// per kept key, then the "other" row once keys were folded. The rows are a
/// copy taken by refresh(), which the owner calls once per tick: it copies
/// only the entries changed since the last refresh, so a tick costs the
/// patterns that were used, and views see one insertion and one change per
/// tick. Numbers are shown as numbers, so that a sorting proxy orders them
/// as numbers; SortRole gives the value to sort by for every column.
/// GUI thread only.
class PatternModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColRank, ColKey, ColCount, ColTotal, ColMean, ColP50, ColP95, ColP99, ColMax, ColRows, ColRowsMean,
        ColKb, ColErrors, ColFirstSeen, ColLastSeen, ColSession, ColumnCount
    };
    static constexpr int SortRole = Qt::UserRole + 1;

    explicit PatternModel(QObject* parent = nullptr);

    /// The statistics shown (not owned); the rows are taken at the next refresh().
    void setStats(const PatternStats* stats);
    /// Copies what changed since the last call.
    void refresh();

    /// Text of the key column of the "other" row; "%1" is the number of folded keys.
    void setOtherText(const QString& text) { otherText = text; }
    /// Form in which the key column shows a key (highlighted HTML, say), made
    /// when a view first asks for the cell; plain text without it.
    void setShownForm(std::function<QString(const QString&)> form) { shownForm = std::move(form); }

    /// The slowest statement of a row, and the database it ran in.
    QString sampleText(int row) const;
    QString sampleDb(int row) const;
    /// Total time of all counted statements, in ms (what the bars are scaled to).
    double totalMs() const { return allMs; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    /// Display: the figures (ms to 3 decimals); the key column's user role
    /// (32) holds the plain key, its tool tip the slowest statement.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

private:
    struct Row
    {
        int rank = 0;
        QString key;
        quint64 count = 0;
        double totalMs = 0, meanMs = 0, p50 = 0, p95 = 0, p99 = 0, maxMs = 0;
        quint64 rows = 0;
        double rowsMean = 0, kb = 0;
        quint64 errors = 0;
        QDateTime firstSeen, lastSeen;
        quint64 session = 0;
        QString sample, sampleDb;
        mutable QString shown;            ///< key in its shown form, made on first display
        mutable QString firstText, lastText;  ///< times as text, made on first display
    };
    void copyEntry(Row& row, int slot, bool other) const;
    QVariant value(const Row& row, int column, int role) const;

    const PatternStats* stats = nullptr;
    std::vector<Row> rows;
    quint64 seenStamp = 0;
    double allMs = 0;
    QString otherText = QStringLiteral("(%1 other)");
    std::function<QString(const QString&)> shownForm;
    QVariant headers[ColumnCount];
};
