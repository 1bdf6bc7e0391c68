// Prints what the result grid costs for 10 000 and 100 000 rows of 10
// columns read from a real server (MariaDB's sequence engine):
//   - reading the answer into a result set (the statement's worker does this);
//   - from the result set being ready to the grid's first paint;
//   - a filter typed: time until the rows show (after the typing pause) and
//     the longest stall of the window's thread meanwhile;
//   - sorting by a number column and by a text column;
//   - memory per cell: resident-size growth for the result set and for the
//     grid over it, divided by the cells;
// and the first paint of a grid holding values of a megabyte.
// Usage: bench_grid --host H --port P --user U --password W --database D
// (QT_QPA_PLATFORM=offscreen is fine).
#include "ResponseWidget.h"
#include "ResultModel.h"
#include "ResultSet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace {

/// Resident set size in bytes, after handing freed memory back.
double rssBytes()
{
    malloc_trim(0);
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE));
}

/// Counts paints of a widget.
class PaintWatch : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

/// The longest gap between ticks of a 5 ms timer: how long the window's
/// thread was busy at one stretch.
class StallWatch : public QObject
{
public:
    StallWatch()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            longest = qMax(longest, clock.restart());
        });
    }
    void start()
    {
        longest = 0;
        clock.start();
        timer.start();
    }
    qint64 stop()
    {
        timer.stop();
        return longest;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 longest = 0;
};

double ms(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

/// Shows `w` and returns the milliseconds until its table has painted once.
double untilFirstPaint(ResponseWidget* w, const QElapsedTimer& since)
{
    PaintWatch watch;
    QWidget* viewport = w->findChild<QTableView*>(QStringLiteral("table"))->viewport();
    viewport->installEventFilter(&watch);
    w->resize(1000, 700);
    w->show();
    while (watch.paints == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double t = ms(since);
    viewport->removeEventFilter(&watch);
    return t;
}

QString statement(int rows)
{
    return QStringLiteral("SELECT seq, seq*2 AS doubled, seq*3 AS tripled, seq % 7 AS mod7, seq/4 AS quarter, "
                          "CONCAT('r', seq) AS label, -seq AS neg, seq*1.5e0 AS real_, "
                          "IF(seq % 10 = 0, NULL, seq) AS sparse, LPAD(seq, 6, '0') AS padded "
                          "FROM seq_1_to_%1")
        .arg(rows);
}

void runSize(QSqlDatabase& db, int rows)
{
    const double rssStart = rssBytes();
    QElapsedTimer t;
    ResultSet rs;
    double readMs = 0;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.setNumericalPrecisionPolicy(QSql::HighPrecision);
        t.start();
        if (!q.exec(statement(rows))) {
            std::fprintf(stderr, "query failed: %s\n", qPrintable(q.lastError().text()));
            std::exit(1);
        }
        const double execMs = ms(t);
        t.start();
        rs = readResultSet(q, execMs);
        readMs = ms(t);
    }
    const double cells = double(rs.rowCount()) * rs.columnCount();
    const double rssResult = rssBytes();

    // The answer is ready: from here to the grid's first paint.
    QElapsedTimer answer;
    answer.start();
    auto* w = new ResponseWidget(rs, QStringLiteral("bench"), nullptr, false);
    const double constructMs = ms(answer);
    const double paintMs = untilFirstPaint(w, answer);
    const double rssGrid = rssBytes();

    // A filter typed: the rows show once the typing pauses; the stall is the
    // window's longest busy stretch meanwhile.
    StallWatch stall;
    QLineEdit* edFilter = w->findChild<QLineEdit*>(QStringLiteral("edFilter"));
    bool applied = false;
    QObject::connect(w, &ResponseWidget::filterApplied, [&applied] { applied = true; });
    stall.start();
    QElapsedTimer typed;
    typed.start();
    edFilter->setText(QStringLiteral("r99"));
    while (!applied)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double filterMs = ms(typed);
    const qint64 filterStall = stall.stop();
    const int matched = w->proxyModel()->rowCount();

    // The same filter in the window's thread, as an export does it.
    edFilter->setText(QStringLiteral("r98"));
    t.start();
    w->flushFilter();
    const double flushMs = ms(t);
    edFilter->clear();

    QTableView* table = w->findChild<QTableView*>(QStringLiteral("table"));
    t.start();
    table->sortByColumn(0, Qt::DescendingOrder);
    const double sortNumberMs = ms(t);
    t.start();
    table->sortByColumn(5, Qt::AscendingOrder);
    const double sortTextMs = ms(t);

    std::printf("%d rows x %d columns\n", rs.rowCount(), rs.columnCount());
    std::printf("  %-44s %10.1f ms\n", "read into a result set (worker)", readMs);
    std::printf("  %-44s %10.1f ms  (construction %.1f ms)\n", "result set ready -> first paint", paintMs,
                constructMs);
    std::printf("  %-44s %10.1f ms  (%d rows; includes the %d ms pause)\n", "filter typed -> rows shown", filterMs,
                matched, int(ResponseWidget::filterDelayMs));
    std::printf("  %-44s %10lld ms\n", "  longest stall of the window meanwhile", filterStall);
    std::printf("  %-44s %10.1f ms\n", "filter in the window's thread (export)", flushMs);
    std::printf("  %-44s %10.1f ms\n", "sort by a number column", sortNumberMs);
    std::printf("  %-44s %10.1f ms\n", "sort by a text column", sortTextMs);
    std::printf("  %-44s %10.1f B\n", "memory per cell: result set", (rssResult - rssStart) / cells);
    std::printf("  %-44s %10.1f B\n", "memory per cell: grid over it", (rssGrid - rssResult) / cells);
    std::fflush(stdout);
    delete w;
}

void runHugeValues()
{
    ResultSet rs;
    rs.columns = QStringList{QStringLiteral("id"), QStringLiteral("value")};
    rs.columnTypes = {QMetaType::Int, QMetaType::QString};
    rs.isSelect = true;
    for (int r = 0; r < 20; ++r)
        rs.rows.append({r, QString(1 << 20, QLatin1Char('a' + r % 26))});
    QElapsedTimer t;
    t.start();
    auto* w = new ResponseWidget(rs, QStringLiteral("bench"), nullptr, false);
    const double paintMs = untilFirstPaint(w, t);
    QTableView* table = w->findChild<QTableView*>(QStringLiteral("table"));
    t.start();
    for (int i = 0; i < 10; ++i)
        table->viewport()->repaint();
    std::printf("20 rows with values of 1 MB\n");
    std::printf("  %-44s %10.1f ms\n", "result set ready -> first paint", paintMs);
    std::printf("  %-44s %10.1f ms\n", "one repaint of the grid", ms(t) / 10);
    delete w;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString host = QStringLiteral("127.0.0.1"), user, password, database;
    int port = 3306;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& key = args.at(i);
        const QString& value = args.at(i + 1);
        if (key == QLatin1String("--host"))
            host = value;
        else if (key == QLatin1String("--port"))
            port = value.toInt();
        else if (key == QLatin1String("--user"))
            user = value;
        else if (key == QLatin1String("--password"))
            password = value;
        else if (key == QLatin1String("--database"))
            database = value;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("bench"));
    db.setHostName(host);
    db.setPort(port);
    db.setDatabaseName(database);
    if (!db.open(user, password)) {
        std::fprintf(stderr, "cannot connect: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    {
        // Fonts, style and first-widget costs are paid once, before measuring.
        ResultSet tiny;
        tiny.columns = QStringList{QStringLiteral("a")};
        tiny.rows = {{1}};
        auto* warm = new ResponseWidget(tiny, QStringLiteral("warm-up"), nullptr, false);
        QElapsedTimer t;
        t.start();
        untilFirstPaint(warm, t);
        delete warm;
    }
    for (int rows : {10000, 100000})
        runSize(db, rows);
    runHugeValues();
    return 0;
}
