#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QVector>

#include "ArchiveStore.h"

/// The archive tab's list: one row per saved session, the texts as stored.
/// The display role gives the text, the user role a value to sort by (the
/// number of an id or count, the date, the KiB), so that a proxy sorts
/// numbers as numbers. No items are kept per cell. GUI thread only.
class ArchiveListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColId = 0, ColStatus, ColStarted, ColDb, ColUser, ColQueries, ColElapsed, ColRows, ColReceived,
        ColComment, ColumnCount
    };
    /// Role of the value rows sort by.
    static constexpr int SortRole = Qt::UserRole;

    explicit ArchiveListModel(QObject* parent = nullptr);

    /// Replaces every row.
    void reset(const QVector<ArchivedSession>& sessions);
    void append(const ArchivedSession& session);
    /// Removes the rows of these ids; returns how many went.
    int remove(const QStringList& ids);
    void setComment(const QString& id, const QString& comment);
    /// Row of `id`, or -1.
    int rowOf(const QString& id) const;
    const ArchivedSession& at(int row) const { return rows.at(row).session; }
    /// Rows of session number `id` are drawn bold while `on` (a tab shows it).
    void setBold(quint64 id, bool on);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

private:
    struct Row
    {
        ArchivedSession session;
        quint64 number = 0;   ///< the id as a number
        QDateTime started;
        qlonglong queries = 0;
        qlonglong rowCount = 0;
        double receivedKb = 0;
    };
    static Row make(const ArchivedSession& s, const QLocale& locale);
    QString text(const Row& row, int column) const;
    QVariant sortValue(const Row& row, int column) const;

    QVector<Row> rows;
    QVector<QString> headers;
    QSet<quint64> bold;
};
