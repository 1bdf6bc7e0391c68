#include "TextHelpers.h"

#include <QtTest>

class TestTextHelpers : public QObject
{
    Q_OBJECT
private slots:
    void recQueryFoldsLineBreaksOnly_data();
    void recQueryFoldsLineBreaksOnly();
    void remRNFoldsBlanksAndLineBreaks_data();
    void remRNFoldsBlanksAndLineBreaks();
    void argumentIsNotChanged();
    void tooltipLines();
    void tooltipTabsAndLeadingLineFeed();
};

void TestTextHelpers::recQueryFoldsLineBreaksOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("cr lf lf") << QStringLiteral("a\r\n\nb") << QStringLiteral("a b");
    QTest::newRow("spaces kept") << QStringLiteral("a   b") << QStringLiteral("a   b");
    QTest::newRow("several runs") << QStringLiteral("\nSELECT\r\n1\n") << QStringLiteral(" SELECT 1 ");
    QTest::newRow("blank around break") << QStringLiteral("a \n b") << QStringLiteral("a   b");
    QTest::newRow("empty") << QString() << QString();
}

void TestTextHelpers::recQueryFoldsLineBreaksOnly()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TextHelpers::recQuery(text), expected);
}

void TestTextHelpers::remRNFoldsBlanksAndLineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("spaces lf space") << QStringLiteral("a  \n b") << QStringLiteral("a b");
    QTest::newRow("spaces only") << QStringLiteral("a   b") << QStringLiteral("a b");
    QTest::newRow("tabs untouched") << QStringLiteral("a\t\tb") << QStringLiteral("a\t\tb");
    QTest::newRow("leading and trailing") << QStringLiteral("  x\r\n") << QStringLiteral(" x ");
}

void TestTextHelpers::remRNFoldsBlanksAndLineBreaks()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TextHelpers::remRN(text), expected);
}

void TestTextHelpers::argumentIsNotChanged()
{
    const QString text = QStringLiteral("a \r\n\tb");
    const QString copy = text;
    TextHelpers::recQuery(text);
    TextHelpers::remRN(text);
    TextHelpers::toTooltipStr(text);
    QCOMPARE(text, copy);
}

void TestTextHelpers::tooltipLines()
{
    QCOMPARE(TextHelpers::toTooltipStr(QString()), QString());

    QString hundred;
    for (int i = 0; i < 100; ++i)
        hundred += QChar('a' + i % 26);
    const QStringList two = TextHelpers::toTooltipStr(hundred).split('\n');
    QCOMPARE(two.size(), 2);
    QCOMPARE(two.at(0), hundred.left(80));
    QCOMPARE(two.at(1), hundred.mid(80));

    QString thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += QChar('0' + i % 10);
    const QString tip = TextHelpers::toTooltipStr(thousand);
    QVERIFY(tip.endsWith(QLatin1String("[...]")));
    const QStringList ten = tip.left(tip.size() - 5).split('\n');
    QCOMPARE(ten.size(), 10);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(ten.at(i), thousand.mid(i * 80, 80));

    // Exactly 800 characters: ten full lines, nothing left out, no marker.
    const QString full = TextHelpers::toTooltipStr(thousand.left(800));
    QVERIFY(!full.contains(QLatin1String("[...]")));
    QCOMPARE(full.split('\n').size(), 10);
    // 801 characters: one is cut off, so the marker follows.
    QVERIFY(TextHelpers::toTooltipStr(thousand.left(801)).endsWith(QLatin1String("[...]")));
}

void TestTextHelpers::tooltipTabsAndLeadingLineFeed()
{
    QCOMPARE(TextHelpers::toTooltipStr(QStringLiteral("\nSELECT\t1")), QStringLiteral("SELECT 1"));
    // Only one leading line feed is dropped.
    QCOMPARE(TextHelpers::toTooltipStr(QStringLiteral("\n\nx")), QStringLiteral("\nx"));
    // Line feeds inside the text stay; the cut counts them as characters.
    QString text = QString(79, 'x') + QStringLiteral("\ny");
    QCOMPARE(TextHelpers::toTooltipStr(text), QString(79, 'x') + QStringLiteral("\n\ny"));
}

QTEST_MAIN(TestTextHelpers)
#include "tst_texthelpers.moc"
