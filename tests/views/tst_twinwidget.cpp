// The twin-query view: groups, counts, positions, sorting, large sessions and
// a session record dropped while the dialog is open.
#include "DataViewerWidget.h"
#include "ModalWatcher.h"
#include "TestSessions.h"
#include "TwinGroups.h"
#include "TwinWidget.h"

#include <QtTest>

namespace {

/// The dialog over a record of `texts`; the record may be dropped by the test.
struct Twin
{
    SessionData* data;
    QScopedPointer<TwinWidget> w;
    explicit Twin(const QStringList& texts)
        : data(sessionOf(texts)), w(new TwinWidget(data, "Repeated", "Statement", "Repeats", "Positions")) {}
    ~Twin() { delete data; }
    /// Column `c` of the table as shown, in `role`.
    QStringList column(int c, int role = Qt::DisplayRole) const
    {
        QStringList out;
        for (int r = 0; r < w->table()->rowCount(); ++r)
            out << w->table()->item(r, c)->data(role).toString();
        return out;
    }
};

/// Twelve statements: "SELECT 1" at positions 1, 4, 9; "select 1" (letter
/// case: a group of its own) at 2, 5; one blank more at 3; the rest differ.
QStringList small()
{
    QStringList texts;
    for (int i = 0; i < 12; ++i)
        texts << QStringLiteral("SELECT %1 FROM t").arg(100 + i);
    texts[0] = texts[3] = texts[8] = "SELECT 1";
    texts[1] = texts[4] = "select 1";
    texts[2] = "SELECT  1";
    return texts;
}

} // namespace

class TestTwinWidget : public QObject
{
    Q_OBJECT

private slots:
    void groupsCountsAndPositions()
    {
        Twin t(small());
        QVERIFY(t.w->windowTitle().endsWith(" 0000042"));
        QCOMPARE(t.w->count(), 2);
        QCOMPARE(t.column(TwinWidget::ColStatement, Qt::UserRole), (QStringList{"SELECT 1", "select 1"}));
        QCOMPARE(t.column(TwinWidget::ColCount), (QStringList{"3", "2"}));
        QCOMPARE(t.column(TwinWidget::ColPositions), (QStringList{"1, 4, 9", "2, 5"}));
        QCOMPARE(TwinGroups::group(t.data->queries).size(), 12 - 3);
        t.w->table()->setCurrentCell(1, 0);   // the viewer follows the current row
        QCOMPARE(t.w->shownStatement(), QString("select 1"));
    }

    void countSortsByValue()
    {
        QStringList texts;
        for (int i = 0; i < 10; ++i)
            texts << "A" << "B" << (i < 9 ? "C" : "D");
        Twin t(texts);
        t.w->table()->sortByColumn(TwinWidget::ColCount, Qt::AscendingOrder);
        QCOMPARE(t.column(TwinWidget::ColCount), (QStringList{"9", "10", "10"}));
    }

    void largeSessions()
    {
        QStringList distinct;
        for (int i = 0; i < 50000; ++i)
            distinct << QStringLiteral("SELECT * FROM orders WHERE id = %1").arg(i);
        QCOMPARE(Twin(distinct).w->count(), 0);

        // One statement 50 000 times: the cell draws a short part of the
        // positions, the value viewer gets the whole list.
        Twin t(QVector<QString>(50000, "SELECT 1").toList());
        QCOMPARE(t.column(TwinWidget::ColCount), QStringList{"50000"});
        const QString shown = t.column(TwinWidget::ColPositions).first();
        const QString whole = t.column(TwinWidget::ColPositions, Qt::UserRole).first();
        QVERIFY(shown.size() <= TwinWidget::positionsShownChars);
        QVERIFY(shown.startsWith("1, 2, 3, ") && shown.endsWith(QString(", ") + QChar(0x2026)));
        QCOMPARE(whole.count(','), 49999);
        QVERIFY(whole.endsWith(", 49999, 50000"));
        QString viewed;
        ModalWatcher watcher;
        watcher.onDialog = [&](QDialog* d) {
            viewed = qobject_cast<DataViewerWidget*>(d)->text();
            d->reject();
        };
        t.w->showData(t.w->table()->model()->index(0, TwinWidget::ColPositions));
        QCOMPARE(viewed, whole);
    }

    void survivesDroppedRecord()
    {
        Twin t(small());
        t.w->show();
        // The record changes under the open dialog, then is dropped: the dialog keeps what it showed.
        QScopedPointer<SessionData> other(sessionOf({"other 1", "other 1", "other 2"}, 7));
        t.data->queries.releaseBefore(t.data->queries.size());
        for (const Query& q : other->queries)
            t.data->queries.append(q);
        other.reset(); // deletes the statements the dialog was built from
        delete t.data;
        t.data = nullptr;
        for (int c : {TwinWidget::ColStatement, TwinWidget::ColCount, TwinWidget::ColPositions})
            t.w->table()->sortByColumn(c, Qt::DescendingOrder);
        QCOMPARE(t.column(TwinWidget::ColPositions), (QStringList{"2, 5", "1, 4, 9"}));
        t.w->table()->setCurrentCell(1, 0);
        QCOMPARE(t.w->shownStatement(), QString("SELECT 1"));
        t.w->table()->setCurrentCell(0, 2);
        QCOMPARE(t.w->shownStatement(), QString("select 1"));
        QVERIFY(QTest::qWaitForWindowExposed(t.w.data()));
        QVERIFY(!t.w->grab().isNull()); // paints every cell from its own copies
    }
};

QTEST_MAIN(TestTwinWidget)
#include "tst_twinwidget.moc"
