#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <deque>
#include <functional>

/// One statement of the live flow as the flow keeps it: a copy of the few
/// fields it shows, so that the row outlives its session record.
struct FlowRow
{
    quint32 number = 0;       ///< running statement count after this statement
    unsigned long sessionId = 0;
    bool isError = false;
    QString text;             ///< the trimmed statement
    double durationMs = 0.0;  ///< rounded to 3 decimals
    double responseKb = 0.0;  ///< rounded to 3 decimals
    quint32 rows = 0;
    QDateTime finishedAt;
    int position = 0;         ///< index of the statement in its session's log
};

/// The live flow's table: 9 columns (number, session, status, statement,
/// ms, Kb, rows, answered at, position in the session), oldest row first.
/// Rows arrive in batches: one insertion per batch, the oldest rows dropped
/// in one removal when the limit is passed. The highlighted form of a
/// statement is made the first time a view asks for it and then kept.
/// GUI thread only.
class FlowModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColNumber = 0, ColSession, ColStatus, ColQuery, ColTimeMs, ColKb, ColRows, ColFinished,
        ColPosition, ColumnCount
    };

    explicit FlowModel(QObject* parent = nullptr);

    /// Turns a statement into the HTML its cell shows; HTML escaping when unset.
    void setHighlighter(std::function<QString(const QString&)> f) { highlighter = std::move(f); }

    /// Appends `batch` (oldest first) and then drops the oldest rows so that
    /// at most `limit` remain (a limit below 1 keeps one row). Rows of the
    /// batch that would be dropped at once are never inserted.
    void append(const QVector<FlowRow>& batch, int limit);
    /// Drops the oldest rows beyond `limit`; returns how many were dropped.
    int trimTo(int limit);
    void clear();

    const FlowRow& row(int r) const { return rows.at(size_t(r)).row; }
    /// Number of rows whose highlighted form was made (and is kept).
    int highlightedCount() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Rounds to 3 decimals the way the cells show numbers.
    static double round3(double value);

private:
    struct Stored
    {
        FlowRow row;
        mutable QString html;
        mutable bool highlighted = false;
    };

    std::deque<Stored> rows;
    QStringList headers;
    std::function<QString(const QString&)> highlighter;
};
