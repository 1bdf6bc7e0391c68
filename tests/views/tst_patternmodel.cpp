// The pattern list's model: each refresh takes the changed figures, new
// patterns and the "other" row, so that a sorted view follows them.
#include <QtTest>

#include "PatternModel.h"
#include "PatternStats.h"

class TstPatternModel : public QObject
{
    Q_OBJECT
private slots:
    void sortedViewFollowsRefreshes()
    {
        PatternStats stats(3);
        PatternModel model;
        model.setStats(&stats);
        QSortFilterProxyModel view;
        view.setSourceModel(&model);
        view.setSortRole(PatternModel::SortRole);
        view.setDynamicSortFilter(true);
        view.sort(PatternModel::ColTotal, Qt::DescendingOrder);
        const auto add = [&](const QString& key, double ms) {
            PatternSample s;
            s.durationMs = ms;
            s.text = key + " (slowest?)";
            stats.add(key, s);
        };
        const auto order = [&]() {
            QStringList keys;
            for (int r = 0; r < view.rowCount(); ++r)
                keys << view.index(r, PatternModel::ColKey).data(Qt::UserRole).toString() + '#'
                            + view.index(r, PatternModel::ColRank).data().toString();
            return keys;
        };
        add("a", 5);
        add("b", 2);
        model.refresh();
        QCOMPARE(order(), (QStringList{"a#1", "b#2"}));
        // b overtakes a; c is new; nothing else is announced as changed
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        add("b", 4);
        add("c", 1);
        model.refresh();
        QCOMPARE(order(), (QStringList{"b#1", "a#2", "c#3"}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(view.index(0, PatternModel::ColCount).data().toString(), QStringLiteral("2"));
        QCOMPARE(view.index(0, PatternModel::ColTotal).data().toDouble(), 6.0);
        // a fourth pattern folds the least recently seen (a) into "other", the last row, sorted by its total
        model.setOtherText("(%1 more)");
        add("d", 0.5);
        model.refresh();
        QCOMPARE(order(), (QStringList{"b#1", "(1 more)#", "c#2", "d#3"}));
        const int other = model.rowCount() - 1;
        QCOMPARE(model.index(other, PatternModel::ColTotal).data().toDouble(), 5.0);
        QCOMPARE(model.sampleText(other), QStringLiteral("a (slowest?)"));
        // cleared statistics empty the list
        stats.clear();
        model.refresh();
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TstPatternModel)
#include "tst_patternmodel.moc"
