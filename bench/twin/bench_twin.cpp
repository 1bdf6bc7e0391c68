// Prints how long grouping a session's statements for the twin-query view
// takes (50 000 statements: all different, a few hundred texts repeated,
// one text repeated throughout), how long the dialog takes to build over
// them, and for comparison the pairwise grouping (every statement against
// every group so far) on a tenth of the statements.
//
//   bench_twin [statements, default 50000]
// Run with QT_QPA_PLATFORM=offscreen when there is no display.
#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include "SessionData.h"
#include "TwinGroups.h"
#include "TwinWidget.h"

namespace {

SessionData* session(int n, int distinct)
{
    auto* data = new SessionData;
    for (int i = 0; i < n; ++i) {
        Query stored;
            Query* q = &stored;
        q->text = QStringLiteral("SELECT * FROM orders WHERE customer = %1 AND state = 'open'").arg(i % distinct);
        data->queries.append(stored);
    }
    return data;
}

/// Every statement compared with every group found so far.
int pairwise(const StatementLog& queries)
{
    QVector<TwinElement> groups;
    for (int i = 0; i < queries.size(); ++i) {
        bool found = false;
        for (TwinElement& g : groups) {
            if (g.text == queries.text(i)) {
                ++g.count;
                g.numbers += QStringLiteral(", ") + QString::number(i + 1);
                found = true;
                break;
            }
        }
        if (!found)
            groups.append(TwinElement{queries.text(i), QString::number(i + 1), 1});
    }
    return groups.size();
}

template <typename F>
double ms(F f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 50000;
    QTextStream out(stdout);
    out << "statements  texts     groups  grouping ms  dialog ms  rows\n";
    for (int distinct : {n, 500, 1}) {
        QScopedPointer<SessionData> data(session(n, distinct));
        int groups = 0, rows = 0;
        const double group = ms([&] { groups = TwinGroups::group(data->queries).size(); });
        const double dialog = ms([&] {
            TwinWidget w(data.data(), "Repeated", "Statement", "Repeats", "Positions");
            rows = w.count();
        });
        out << qSetFieldWidth(10) << Qt::left << n << distinct << groups << qSetFieldWidth(0) << "  "
            << QString::number(group, 'f', 1).leftJustified(13) << QString::number(dialog, 'f', 1).leftJustified(11)
            << rows << "\n";
    }
    const int small = n / 10;
    QScopedPointer<SessionData> data(session(small, small));
    int groups = 0;
    const double hashed = ms([&] { groups = TwinGroups::group(data->queries).size(); });
    const double pairs = ms([&] { groups = pairwise(data->queries); });
    out << "pairwise grouping of " << small << " different statements: " << QString::number(pairs, 'f', 1)
        << " ms (hashed " << QString::number(hashed, 'f', 1) << " ms, ratio "
        << QString::number(pairs / qMax(hashed, 0.001), 'f', 0) << ")\n";
    return 0;
}
