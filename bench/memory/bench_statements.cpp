// Bytes held per captured statement: synthetic batches go through a
// session's real path (tuples decoded and logged as the decoder hands them
// over) and the heap in use is read before and after.
//
//   bench_statements [statements, default 1000000]
#include <QCoreApplication>
#include <QTextStream>

#include <malloc.h>

#include "Session.h"
#include "SessionData.h"

namespace {

qint64 heapInUse()
{
    malloc_trim(0);
    return qint64(mallinfo2().uordblks) + qint64(mallinfo2().hblkhd);
}

/// Logs `n` statements named by `textOf` in batches of 100; the heap bytes
/// the record holds afterwards, per statement.
template <typename TextOf>
double bytesPerStatement(int n, TextOf textOf)
{
    const qint64 before = heapInUse();
    Session session;
    session.onStartSession(QDateTime::currentDateTime(), QStringLiteral("bench"), QStringLiteral("sbtest"), true);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < n;) {
        QList<QVariantList> batch;
        for (int k = 0; k < 100 && i < n; ++k, ++i)
            batch << QVariantList{now.addMSecs(i), 0.125 + i % 7, textOf(i), 0.04f, 0.2f, 1, false};
        session.onNewQueries(batch);
    }
    const qint64 after = heapInUse();
    delete session.getSessionData();
    return double(after - before) / n;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    QTextStream out(stdout);
    const double distinct = bytesPerStatement(n, [](int i) {
        return QByteArray("SELECT c FROM sbtest1 WHERE id=") + QByteArray::number(i + 1);
    });
    const double repeated = bytesPerStatement(n, [](int i) {
        static const QByteArray texts[] = {"SELECT c FROM sbtest1 WHERE id=?", "UPDATE sbtest1 SET k=k+1 WHERE id=?",
                                           "SELECT DISTINCT c FROM sbtest1 WHERE id BETWEEN ? AND ? ORDER BY c"};
        return texts[i % 3];
    });
    out << "statements per run\t" << n << '\n'
        << "bytes per statement, distinct point selects\t" << QString::number(distinct, 'f', 1) << '\n'
        << "bytes per statement, three repeated texts\t" << QString::number(repeated, 'f', 1) << '\n'
        << "record bytes\t" << StatementLog::recordBytes() << '\n';
    return 0;
}
