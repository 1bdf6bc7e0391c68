// Figures worked out when they are read rather than rewritten with every
// batch: each statement's share of its session's total time and its percent
// of the slowest statement, in the records and in an open session tab, and
// the highlighted statements of the top lists.

#include "LiveFixture.h"

#include "Session.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"

#include <cmath>
#include <numeric>

namespace {

QVariantList tuple(double ms, const QByteArray& text)
{
    return QVariantList{QDateTime::currentDateTime(), ms, text, 0.125f, 0.5f, 1u, false};
}

} // namespace

class TestLiveRatings : public QObject
{
    Q_OBJECT

private slots:
    void init() { fx = std::make_unique<Live>(); }
    void cleanup() { fx.reset(); }

    void sharesFollowTheTotalInRecordsAndTab();
    void topListHighlightsWhenShown();

private:
    std::unique_ptr<Live> fx;
};

void TestLiveRatings::sharesFollowTheTotalInRecordsAndTab()
{
    auto* session = new Session(fx->mngr.get());
    fx->mngr->adoptSession(session);
    session->onStartSession(QDateTime::currentDateTime(), QStringLiteral("app"), QStringLiteral("shop"), true);
    SessionData* data = session->getSessionData();
    SessionWidget* tab = fx->win->sessionsPage()->openTab(data, uint(fx->mngr->getSessionIndex(data->id)), true);
    QVERIFY(tab);

    // Below 1 ms, a new maximum in the middle of a batch, batches below the
    // maximum, a zero duration, and a last rise of the maximum.
    const QList<QList<double>> batches{{0.5, 0.25}, {2.0, 0.75, 8.0, 1.0}, {4.0}, {0.0, 3.5}, {0.125, 16.0, 2.0}};
    QList<double> all;
    for (const QList<double>& batch : batches) {
        QList<QVariantList> tuples;
        for (double ms : batch)
            tuples << tuple(ms, "SELECT " + QByteArray::number(all.size() + tuples.size()));
        session->onNewQueries(tuples);
        QCoreApplication::processEvents(); // the tab takes the batch through a queued call
        all += batch;
        // After every batch each statement is rated against the whole log:
        // its share of the total, its percent of the slowest (at least 1 ms).
        const double total = std::accumulate(all.begin(), all.end(), 0.0);
        const double maxMs = qMax(1.0, *std::max_element(all.begin(), all.end()));
        QCOMPARE(data->durationMsTotal, total);
        QStandardItemModel* model = tab->queryModel();
        QCOMPARE(model->rowCount(), all.size());
        for (int i = 0; i < all.size(); ++i) {
            const float share = float(all.at(i) / total * 100.0);
            const int percent = int(std::floor(all.at(i) / maxMs * 100.0 + 0.5));
            QCOMPARE(data->queries.at(i).shareOfTotal, share);
            QCOMPARE(data->queries.at(i).percentOfMax, percent);
            // The tab shows the record's figures, 3 decimals for the share.
            QCOMPARE(model->index(i, SessionWidget::ColTimePercent).data().toDouble(),
                     QString::number(double(share), 'f', 3).toDouble());
            QCOMPARE(model->index(i, SessionWidget::ColLongestPercent).data().toInt(), percent);
        }
    }
    // Sorted by share, the table orders by the figures of now.
    tab->tableQueries()->sortByColumn(SessionWidget::ColTimePercent, Qt::DescendingOrder);
    QCOMPARE(tab->proxyModel()->index(0, SessionWidget::ColTimeMs).data().toDouble(), 16.0);
    session->onNewQueries({tuple(40.0, "SELECT big")});
    QCoreApplication::processEvents();
    QCOMPARE(tab->proxyModel()->index(0, SessionWidget::ColTimeMs).data().toDouble(), 40.0);
    QCOMPARE(tab->proxyModel()->index(1, SessionWidget::ColTimeMs).data().toDouble(), 16.0);
}


void TestLiveRatings::topListHighlightsWhenShown()
{
    int calls = 0;
    fx->mngr->highlighter = [&calls](const QString& text) {
        ++calls;
        return QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped());
    };
    SessionData* data = fx->addSession();
    QStringList texts;
    for (int i = 0; i < 50; ++i)
        texts << QStringLiteral("  SELECT c FROM t WHERE id<%1 ").arg(i);
    fx->addQueries(data, texts);
    fx->addQueries(data, {texts.at(7), texts.at(7)});
    QCOMPARE(calls, 0); // counting costs no highlighting

    // The most frequent first, highlighted once however often read; after a
    // re-ordering each row still shows its own statement.
    TopListModel* top = fx->mngr->modelTopQueries;
    for (int k = 0; k < 2; ++k)
        QCOMPARE(top->index(0, 2).data().toString(), QStringLiteral("<b>SELECT c FROM t WHERE id&lt;7</b>"));
    QCOMPARE(calls, 1);
    fx->addQueries(data, {texts.at(3), texts.at(3), texts.at(3), texts.at(3)});
    for (int r = 0; r < top->rowCount(); ++r)
        QCOMPARE(top->index(r, 2).data().toString(),
                 QStringLiteral("<b>%1</b>").arg(top->index(r, 5).data().toString().trimmed().toHtmlEscaped()));
    QCOMPARE(top->index(0, 5).data().toString(), texts.at(3));
    QCOMPARE(calls, 50);
}

QTEST_MAIN(TestLiveRatings)
#include "tst_liveratings.moc"
