// Prints how long the session manager takes to count one batch of captured
// statements into its top-query list, with many distinct statements already
// counted; and, for comparison, the plain linear algorithm on a smaller list.
//
//   bench_topqueries [distinct statements already counted, default 100000]
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTextStream>

#include <algorithm>

#include "MngrSessions.h"
#include "Session.h"
#include "TopListModel.h"

namespace {

QList<QVariantList> batch(int from, int count, bool repeats, int distinct, QRandomGenerator& rng)
{
    QList<QVariantList> out;
    out.reserve(count);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i) {
        const int n = repeats ? int(rng.bounded(distinct)) : from + i;
        const QByteArray text = "SELECT * FROM orders WHERE id = " + QByteArray::number(n);
        out.append(QVariantList{now, 0.3, text, 0.04f, 0.1f, 1, false});
    }
    return out;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int distinct = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int batchSize = 1000;
    QTextStream out(stdout);
    QRandomGenerator rng(7);

    for (bool withView : {false, true}) {
        QObject owner;
        MngrSessions mngr(nullptr);
        QSortFilterProxyModel view; // what the main window puts between list and table
        if (withView) {
            view.setDynamicSortFilter(true);
            view.setSourceModel(mngr.modelTopQueries);
        }
        auto* session = new Session(&owner);
        mngr.adoptSession(session);
        session->onStartSession(QDateTime::currentDateTime(), "bench", "shop", true);

        QElapsedTimer fill;
        fill.start();
        for (int i = 0; i < distinct; i += batchSize)
            session->onNewQueries(batch(i, std::min(batchSize, distinct - i), false, 0, rng));
        const double fillMs = fill.nsecsElapsed() / 1e6;

        QList<double> fresh, repeated;
        int next = distinct;
        for (int round = 0; round < 7; ++round) {
            const QList<QVariantList> a = batch(next, batchSize, false, 0, rng);
            next += batchSize;
            QElapsedTimer t;
            t.start();
            session->onNewQueries(a);
            fresh << t.nsecsElapsed() / 1e6;
            const QList<QVariantList> b = batch(0, batchSize, true, next, rng);
            t.start();
            session->onNewQueries(b);
            repeated << t.nsecsElapsed() / 1e6;
        }
        out << (withView ? "with a sorting proxy attached:\n" : "list alone:\n");
        out << QString("  %1 distinct statements counted in %2 ms (batches of %3)\n")
                   .arg(distinct).arg(fillMs, 0, 'f', 1).arg(batchSize);
        out << QString("  batch of %1 new statements:      median %2 ms\n")
                   .arg(batchSize).arg(median(fresh), 0, 'f', 2);
        out << QString("  batch of %1 repeated statements: median %2 ms (list now %3 rows)\n")
                   .arg(batchSize).arg(median(repeated), 0, 'f', 2).arg(mngr.modelTopQueries->rowCount());
        out.flush();
    }

    // The plain algorithm (linear search, sort and renumbering per statement)
    // on a much smaller list, for scale.
    for (int rowsBefore : {1000, 4000}) {
        QStandardItemModel plain(0, 6);
        for (int i = 0; i < rowsBefore; ++i) {
            const QString text = QString("SELECT %1").arg(i);
            TopListModel::addLinear(&plain, 5, 4, text, {QString(), "u", text, "db", QString(), text});
            if (rowsBefore > 1000 && i == 1000)
                break; // filling itself is quadratic: fill the rest as a block
        }
        for (int i = plain.rowCount(); i < rowsBefore; ++i) {
            QList<QStandardItem*> row;
            for (int c = 0; c < 6; ++c)
                row << new QStandardItem(c == 4 ? QString() : QString("SELECT %1").arg(i));
            row[4]->setData(1, Qt::DisplayRole);
            plain.appendRow(row);
        }
        QElapsedTimer t;
        t.start();
        const int n = 20;
        for (int i = 0; i < n; ++i) {
            const QString text = QString("SELECT %1").arg(rowsBefore + i);
            TopListModel::addLinear(&plain, 5, 4, text, {QString(), "u", text, "db", QString(), text});
        }
        const double perStatement = t.nsecsElapsed() / 1e6 / n;
        out << QString("plain algorithm, %1 rows: %2 ms per statement (a batch of %3: ~%4 ms)\n")
                   .arg(rowsBefore).arg(perStatement, 0, 'f', 2).arg(batchSize)
                   .arg(perStatement * batchSize, 0, 'f', 0);
        out.flush();
    }
    return 0;
}
