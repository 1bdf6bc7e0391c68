// The comparison and the archive list on their own: marked rows and empty
// cells, the statement of a row's own number in a sorted table, five
// sessions of 50 000 statements, and 10 000 saved sessions sorted by value.
#include "ArchiveFiles.h"
#include "ArchiveFormat.h"
#include "ArchiveListModel.h"
#include "ArchiveWidget.h"
#include "CodeEditor.h"
#include "CompareWidget.h"

#include <QTextDocumentFragment>
#include <QTableView>
#include <QTemporaryDir>

using Sessions = QList<QStringList>;

namespace {
QList<SessionQueries> named(const Sessions& sessions)
{
    QList<SessionQueries> out;
    for (int i = 0; i < sessions.size(); ++i)
        out << SessionQueries{ArchiveFormat::sessionId(ulong(i + 1)), sessions.at(i)};
    return out;
}
} // namespace

class TestArchiveViews : public QObject
{
    Q_OBJECT

private slots:
    void comparison_data()
    {
        QTest::addColumn<Sessions>("sessions");
        QTest::addColumn<QString>("marked");   // per row: x marked, - plain
        QTest::addColumn<QStringList>("cells"); // per row, "|" between sessions, "~" for an empty cell
        QTest::newRow("A, B against A, C") << Sessions{{"A", "B"}, {"A", "C"}} << "-x" << QStringList{"A|A", "B|C"};
        QTest::newRow("3 against 5 statements") << Sessions{{"a", "b", "c"}, {"a", "b", "c", "d", "e"}} << "---xx"
                                                << QStringList{"a|a", "b|b", "c|c", "~|d", "~|e"};
        QTest::newRow("first session shorter") << Sessions{{"a"}, {"a", "b"}, {"a", "b"}} << "-x"
                                               << QStringList{"a|a|a", "~|b|b"};
        QTest::newRow("leading blank") << Sessions{{"SELECT 1"}, {" SELECT 1"}} << "x" << QStringList{"SELECT 1|SELECT 1"};
        QTest::newRow("trailing line break") << Sessions{{"SELECT 1"}, {"SELECT 1"}, {"SELECT 1\n"}} << "x"
                                             << QStringList{"SELECT 1|SELECT 1|SELECT 1"};
    }
    void comparison()
    {
        QFETCH(Sessions, sessions);
        QFETCH(QString, marked);
        QFETCH(QStringList, cells);
        CompareWidget w(named(sessions), "Session comparison");
        const QAbstractItemModel* m = w.table()->model();
        QCOMPARE(m->columnCount(), sessions.size() + 1);
        QString gotMarks;
        QStringList gotCells;
        for (int r = 0; r < m->rowCount(); ++r) {
            const QVariant first = m->index(r, 0).data(Qt::BackgroundRole);
            gotMarks += first.isValid() ? 'x' : '-';
            QStringList row;
            for (int c = 1; c < m->columnCount(); ++c) {
                // every cell of a row carries the mark; the cell shows the trimmed statement
                QCOMPARE(m->index(r, c).data(Qt::BackgroundRole), first);
                const QString shown = QTextDocumentFragment::fromHtml(m->index(r, c).data().toString()).toPlainText();
                row << (shown.isEmpty() ? QStringLiteral("~") : shown);
            }
            gotCells << row.join('|');
        }
        QCOMPARE(gotMarks, marked);
        QCOMPARE(gotCells, cells);
    }

    void sortedComparisonShowsTheRowsOwnStatement()
    {
        CompareWidget w(named({{"b", "  c\n", "a"}, {"x", "y"}}), "Session comparison");
        QTableView* view = w.table();
        view->sortByColumn(1, Qt::AscendingOrder);
        const auto show = [&](int row, int column) {
            view->setCurrentIndex(view->model()->index(row, column));
            return w.viewer()->toPlainText();
        };
        // rows now: 3 (a), 1 (b), 2 (c); session 2 has no third statement; the statement shown untrimmed
        QCOMPARE(view->model()->index(0, 0).data().toInt(), 3);
        QCOMPARE(QStringList({show(0, 1), show(0, 2), show(1, 2), show(2, 1)}), QStringList({"a", "", "x", "  c\n"}));
    }

    void fiveSessionsOf50000()
    {
        const int n = 50000;
        Sessions sessions{{}, {}, {}, {}, {}};
        for (int s = 0; s < 5; ++s)
            for (int i = 0; i < (s == 4 ? n - 10 : n); ++i)
                sessions[s] << QStringLiteral("SELECT * FROM t%1 WHERE id = %2").arg(s == 2 && i % 1000 == 7 ? 9 : 0).arg(i);
        CompareWidget w(named(sessions), "Session comparison");
        w.resize(900, 600);
        w.show();
        QCoreApplication::processEvents();
        const CompareModel* m = w.compareModel();
        int marked = 0;
        for (int r = 0; r < n; ++r)
            marked += m->unequal(r);
        QVERIFY(m->rowCount() == n && marked == 50 + 10 && m->unequal(7) && m->unequal(n - 1) && !m->unequal(8));
        // only what is on screen was highlighted
        QVERIFY2(m->highlighted() > 0 && m->highlighted() < 1000, qPrintable(QString::number(m->highlighted())));

        // sorting by a session's statements, then picking a cell
        w.table()->sortByColumn(3, Qt::DescendingOrder);
        w.table()->setCurrentIndex(w.table()->model()->index(0, 3));
        QCOMPARE(w.viewer()->toPlainText(), QStringLiteral("SELECT * FROM t9 WHERE id = 9007"));
    }

    void tenThousandSessionsSortByValue()
    {
        // written in one go, as a large old file is
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/list");
        QVERIFY(ArchiveStore(QStringLiteral("create")).open(path));
        QVERIFY(RawFile(path).run("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) INSERT INTO sessions "
                                  "SELECT printf('%07d', i), printf('%02d.01.26 %02d:%02d', 1 + i % 28, i % 24, i % 60), 'shop', 'app', "
                                  "i * 7919 % 1000, '00:00:01.000', i % 13 * 100, printf('%.3f', i % 17 * 150.5), '', 'yes' FROM n"));
        ArchiveStore store(QStringLiteral("large"));
        QVERIFY(store.open(path));
        ArchiveWidget w(&store);
        QTableView* view = w.table();
        const QAbstractItemModel* m = view->model();
        // newest number first, numerically
        QVERIFY(m->rowCount() == 10000 && m->index(0, 0).data().toString() == "0010000");
        const auto ordered = [&](int column, auto value) {
            view->sortByColumn(column, Qt::AscendingOrder);
            for (int r = 1; r < m->rowCount(); ++r)
                if (value(m->index(r, column).data().toString()) < value(m->index(r - 1, column).data().toString()))
                    return r;
            return 0;
        };
        const auto number = [](const QString& t) { return t.toLongLong(); };
        QCOMPARE(ordered(ArchiveListModel::ColQueries, number), 0);
        QCOMPARE(ordered(ArchiveListModel::ColRows, number), 0);
        QCOMPARE(ordered(ArchiveListModel::ColReceived, [](const QString& t) { return ArchiveFormat::readLocaleKb(t); }), 0);
        QCOMPARE(ordered(ArchiveListModel::ColStarted, [](const QString& t) { return ArchiveFormat::readStartedAt(t); }), 0);
        QCOMPARE(ordered(ArchiveListModel::ColId, number), 0);
    }
};

QTEST_MAIN(TestArchiveViews)
#include "tst_archiveviews.moc"
