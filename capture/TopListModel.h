#pragma once

#include <QHash>
#include <QStandardItemModel>
#include <QStringList>
#include <QVector>

#include <functional>

/// A name of a top list and how often it was counted.
struct TopElement
{
    QString name;
    int count = 0;
};

/// A statement of a top list: its text, the database and user of its first
/// occurrence, and how often it was counted.
struct TopElementQuery
{
    QString text;
    QString db;
    QString user;
    int count = 0;
};

/// Ordering of top entries: the larger count first; equal counts in
/// ascending order of the name (of the statement text).
bool sorting(const TopElement& a, const TopElement& b);
bool sortingQuery(const TopElementQuery& a, const TopElementQuery& b);

/// A "top" table: one row per distinct key with its count, most frequent
/// first, column 0 holding the rank (1, 2, 3, ... from the top).
///
/// Rows are ordered by count, descending; among equal counts the entry that
/// reached its count earlier comes first. That is the order that a stable
/// sort by count after every single addition gives, but the model finds an
/// entry by a hash of its key and re-orders once per batch (endBatch): each
/// entry counted in the batch moves up past the rows it now outranks, so a
/// batch costs the rows it touches and passes, not the whole list.
///
/// The table is shown through data(): the model's own items are empty
/// placeholders, so read it with data()/index(), not item(). Rows are added
/// only by add(); removing rows (removeRows, setRowCount(0)) or clear()
/// drops the entries concerned. GUI thread only.
class TopListModel : public QStandardItemModel
{
    Q_OBJECT
public:
    /// `columns` columns, the key (the text that identifies an entry) in
    /// `keyColumn`, the count in `countColumn`, the rank in column 0.
    TopListModel(int columns, int keyColumn, int countColumn, QObject* parent = nullptr);
    ~TopListModel() override;

    int keyColumn() const { return keyCol; }
    int countColumn() const { return countCol; }

    /// Counts `key` once more. A new key gets a row made of `cells` (one
    /// text per column; rank, key and count are filled in) with count 1; an
    /// existing entry keeps the other cells of its first occurrence.
    /// Outside a batch the rows are re-ordered at once.
    void add(const QString& key, const QStringList& cells = QStringList());

    /// Batches nest; the rows are re-ordered when the outermost ends.
    void beginBatch();
    void endBatch();

    /// Count of `key`, 0 when it is not listed.
    int countOf(const QString& key) const;

    /// The entries of a 3-column list (rank, name, count) in row order.
    QList<TopElement> elements() const;
    /// The entries of a 6-column statement list (rank, user, text shown,
    /// database, count, raw text) in row order.
    QList<TopElementQuery> queryElements() const;

    /// Column `column` (neither rank, key nor count) keeps the text given to
    /// add() and shows it through `form`, applied the first time a view asks
    /// for the cell and then kept: rows nobody looks at cost no formatting.
    void setShownForm(int column, std::function<QString(const QString&)> form);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    /// The plain algorithm on any QStandardItemModel: look for the row whose
    /// `keyColumn` equals `key` exactly and increase its `countColumn`, or
    /// append a row made of `cells` with count 1; then sort by count
    /// descending (stable) and renumber column 0 from 1. Linear in the rows.
    static void addLinear(QStandardItemModel* model, int keyColumn, int countColumn, const QString& key,
                          const QStringList& cells = QStringList());

private:
    struct Entry
    {
        QStringList cells;
        int count = 0;
        quint64 seq = 0;     ///< when the entry reached its count
        bool moved = false;  ///< counted in the open batch
        int pos = -1;        ///< row in `order`, -1 before its first commit
        mutable bool formed = false;  ///< `shown` holds the shown form of the formatted column
        mutable QString shown;
    };

    void commit();
    void onRowsAboutToBeRemoved(const QModelIndex& parent, int first, int last);
    void onModelReset();

    const int cols;
    const int keyCol;
    const int countCol;
    QVector<Entry*> order;        ///< entries in row order
    QHash<QString, Entry*> byKey;
    QVector<Entry*> touched;      ///< entries counted in the open batch
    int shownRows = 0;            ///< rows that views know of
    quint64 nextSeq = 0;
    int batchDepth = 0;
    bool ownChange = false;
    int formCol = -1;
    std::function<QString(const QString&)> form;
};
