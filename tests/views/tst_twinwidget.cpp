// The twin-query view: groups, counts, positions, sorting, large sessions and
// a session record dropped while the dialog is open.
#include "DataViewerWidget.h"
#include "ModalWatcher.h"
#include "TestSessions.h"
#include "TwinGroups.h"
#include "TwinWidget.h"

#include <QtTest>

namespace {

/// Column `c` of the table as shown, in `role`.
QStringList column(const TwinWidget& w, int c, int role = Qt::DisplayRole)
{
    QStringList out;
    for (int r = 0; r < w.table()->rowCount(); ++r)
        out << w.table()->item(r, c)->data(role).toString();
    return out;
}

TwinWidget* dialog(SessionData* data)
{
    return new TwinWidget(data, "Repeated", "Statement", "Repeats", "Positions");
}

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
        QScopedPointer<SessionData> data(sessionOf(small()));
        QScopedPointer<TwinWidget> w(dialog(data.data()));
        QVERIFY(w->windowTitle().endsWith(" 0000042"));
        QCOMPARE(w->count(), 2);
        QCOMPARE(column(*w, TwinWidget::ColStatement, Qt::UserRole), (QStringList{"SELECT 1", "select 1"}));
        QCOMPARE(column(*w, TwinWidget::ColCount), (QStringList{"3", "2"}));
        QCOMPARE(column(*w, TwinWidget::ColPositions), (QStringList{"1, 4, 9", "2, 5"}));
        QCOMPARE(TwinGroups::group(data->queries).size(), 12 - 3);

        // The viewer follows the current row.
        w->table()->setCurrentCell(1, 0);
        QCOMPARE(w->shownStatement(), QString("select 1"));
    }

    void countSortsByValue()
    {
        QStringList texts;
        for (int i = 0; i < 10; ++i)
            texts << "A" << "B" << (i < 9 ? "C" : "D");
        QScopedPointer<SessionData> data(sessionOf(texts));
        QScopedPointer<TwinWidget> w(dialog(data.data()));
        w->table()->sortByColumn(TwinWidget::ColCount, Qt::AscendingOrder);
        QCOMPARE(column(*w, TwinWidget::ColCount), (QStringList{"9", "10", "10"}));
        QCOMPARE(column(*w, TwinWidget::ColStatement, Qt::UserRole).first(), QString("C"));
    }

    void largeSessions()
    {
        // 50 000 different statements: nothing repeated.
        QStringList distinct;
        for (int i = 0; i < 50000; ++i)
            distinct << QStringLiteral("SELECT * FROM orders WHERE id = %1").arg(i);
        QScopedPointer<SessionData> data(sessionOf(distinct));
        QScopedPointer<TwinWidget> w(dialog(data.data()));
        QCOMPARE(w->count(), 0);

        // One statement 50 000 times: one row whose cell draws a short part
        // of the positions, the whole list kept for the value viewer.
        data.reset(sessionOf(QVector<QString>(50000, "SELECT 1").toList()));
        w.reset(dialog(data.data()));
        QCOMPARE(w->count(), 1);
        QCOMPARE(column(*w, TwinWidget::ColCount), QStringList{"50000"});
        const QString shown = column(*w, TwinWidget::ColPositions).first();
        const QString whole = column(*w, TwinWidget::ColPositions, Qt::UserRole).first();
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
        w->showData(w->table()->model()->index(0, TwinWidget::ColPositions));
        QCOMPARE(viewed, whole);
    }

    void survivesDroppedRecord()
    {
        auto* data = sessionOf(small());
        QScopedPointer<TwinWidget> w(dialog(data));
        w->show();
        // The record changes under the open dialog, then the session manager
        // drops it: what the dialog shows stays as it was when it opened.
        QScopedPointer<SessionData> other(sessionOf({"other 1", "other 1", "other 2"}, 7));
        data->queries.releaseBefore(data->queries.size());
        for (const Query& q : other->queries)
            data->queries.append(q);
        data->id = other->id;
        other.reset(); // deletes the statements the dialog was built from
        delete data;
        for (int c : {TwinWidget::ColStatement, TwinWidget::ColCount, TwinWidget::ColPositions})
            w->table()->sortByColumn(c, Qt::DescendingOrder);
        QCOMPARE(column(*w, TwinWidget::ColPositions), (QStringList{"2, 5", "1, 4, 9"}));
        w->table()->setCurrentCell(1, 0);
        QCOMPARE(w->shownStatement(), QString("SELECT 1"));
        w->table()->setCurrentCell(0, 2);
        QCOMPARE(w->shownStatement(), QString("select 1"));
        QVERIFY(QTest::qWaitForWindowExposed(w.data()));
        QVERIFY(!w->grab().isNull()); // paints every cell from its own copies
    }
};

QTEST_MAIN(TestTwinWidget)
#include "tst_twinwidget.moc"
