// Renders every widget of the editor, list and graph libraries with sample
// data into PNG files (gallery/ in the build tree, or the folder given as the
// first argument) for a person to look at. Fails when a picture cannot be
// written or comes out a single flat colour.
#include "CodeEditor.h"
#include "GraphStatistics.h"
#include "Plotter.h"
#include "PlotterMoved.h"
#include "StyleEngine.h"
#include "TabWidget.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

namespace {

QString outDir;
int failures = 0;

bool flat(const QImage& image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

void save(QWidget* w, const QString& name)
{
    w->show();
    QCoreApplication::processEvents();
    const QImage image = w->grab().toImage();
    const QString path = outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (image.isNull() || flat(image) || !image.save(path)) {
        std::fprintf(stderr, "gallery: %s failed\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void editors()
{
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* editor = new CodeEditor;
    editor->setPlainText(QStringLiteral(
        "-- monthly totals\n"
        "SELECT c.name, COUNT(*) AS orders, SUM(o.amount) AS total\n"
        "FROM customers c\n"
        "\tJOIN orders o ON o.customer_id = c.id\n"
        "WHERE o.created >= '2024-01-01' AND o.note <> 'a\\\\b' /* keep\n"
        "   this */\n"
        "GROUP BY c.name\n"
        "HAVING total > 1000\n"
        "ORDER BY total DESC\n"
        "LIMIT 10;\n"
        "\n"
        "UPDATE accounts SET balance = balance - 5.25 WHERE id = 7 AND flag IS NULL;"));
    auto* viewer = new CodeEditor;
    viewer->setReadOnlyStyle();
    viewer->setReadOnly(true);
    viewer->setPlainText(QStringLiteral("INSERT INTO log (id, msg) VALUES (1, \"<b>&amp;</b>\");"));
    layout->addWidget(editor, 3);
    layout->addWidget(viewer, 1);
    page.resize(620, 340);
    save(&page, QStringLiteral("code_editor"));
}

void statistics()
{
    QWidget page;
    auto* grid = new QGridLayout(&page);
    const char* headers[] = {"Connections", "Queries", "Upload", "Download"};
    const char* units[] = {"", "", "Kb/s", "Kb/s"};
    for (int i = 0; i < 4; ++i) {
        auto* g = new GraphStatistics;
        g->setMinimumSize(260, 110);
        g->setHeader(QString::fromLatin1(headers[i]));
        g->setUnit(QString::fromLatin1(units[i]));
        grid->addWidget(g, i / 2, i % 2);
    }
    page.resize(560, 250);
    page.show();
    QCoreApplication::processEvents();
    const auto graphs = page.findChildren<GraphStatistics*>();
    for (int n = 0; n < graphs.size(); ++n) {
        if (n == 3)
            continue; // one stays empty: grid and "0"
        for (int i = 0; i < 40; ++i)
            graphs[n]->addPoint(std::fabs(std::sin(i / (4.0 + n)) * (n == 0 ? 12 : 180.5)) + (n == 2 ? 0.3 : 0));
    }
    save(&page, QStringLiteral("graph_statistics"));
}

void plotter()
{
    Plotter p;
    p.resize(560, 160);
    p.setLabelGraph(QStringLiteral("Duration, ms"));
    QList<double> values;
    for (int i = 0; i < 60; ++i)
        values << 20 + 15 * std::sin(i / 5.0) + (i % 17 == 0 ? 60 : 0);
    p.addPoints(values);
    p.setDrawLinePosition(17);
    p.show();
    QMouseEvent move(QEvent::MouseMove, QPoint(300, 80), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&p, &move);
    save(&p, QStringLiteral("plotter"));
}

void plotterMoved()
{
    PlotterMoved p;
    p.resize(560, 200);
    p.setMaxY(20);
    p.setLabelsGraph(QStringLiteral("Statements per second"), QStringLiteral("Other"));
    p.show();
    QCoreApplication::processEvents();
    for (int i = 0; i < 70; ++i) {
        const double sel = 30 + 20 * std::sin(i / 6.0);
        const double upd = 8 + 6 * std::cos(i / 4.0);
        const double ins = 5 + (i % 10);
        const double del = 2 + (i % 3);
        const double other = 4;
        p.addValues({sel + upd + ins + del + other, sel, upd, ins, del, other});
    }
    save(&p, QStringLiteral("plotter_moved"));
}

void tables()
{
    QStandardItemModel model(5, 5);
    model.setHorizontalHeaderLabels({"", "Query", "Count", "Share", "Value"});
    const QStringList queries{
        QStringLiteral("SELECT id, name FROM users WHERE id = 42 -- by id"),
        QStringLiteral("UPDATE t SET a = 'x' WHERE b < 3 AND c > 4"),
        QStringLiteral("INSERT INTO log VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e'), (6, 'f'), "
                       "(7, 'g'), (8, 'h'), (9, 'i'), (10, 'j'), (11, 'k'), (12, 'l'), (13, 'm'), (14, 'n')"),
        QStringLiteral("DELETE FROM sessions WHERE expires < NOW()"),
        QStringLiteral("SHOW TABLES")};
    const QStringList counts{"120", "45", "300", "7", "60"};
    const QStringList values{"(null)", "Sending data", "a rather long value that does not fit into the cell at all",
                             "42", "starting"};
    for (int r = 0; r < 5; ++r) {
        model.setItem(r, 0, new QStandardItem(r == 3 ? "no" : "yes"));
        model.setItem(r, 1, new QStandardItem(TextHelpers::toHighlightText(queries.at(r))));
        model.setItem(r, 2, new QStandardItem(counts.at(r)));
        model.setItem(r, 3, new QStandardItem(counts.at(r)));
        model.setItem(r, 4, new QStandardItem(values.at(r)));
    }
    QTableView view;
    view.setModel(&model);
    view.setItemDelegateForColumn(0, new TableStatusDelegate(&view));
    view.setItemDelegateForColumn(1, new TableQueryDelegate(CodeEditor::_css, &view));
    auto* countBar = new TableButtonDelegate(&view, true);
    countBar->barColumn = 2;
    countBar->barFullScale = 300;
    view.setItemDelegateForColumn(2, countBar);
    auto* shareBar = new TableButtonDelegate(&view, false);
    shareBar->barColumn = 3;
    shareBar->barFullScale = 300;
    view.setItemDelegateForColumn(3, shareBar);
    auto* data = new TableButtonDelegate(&view, true);
    data->nullColoring = true;
    data->upperCaseColumn = 4;
    data->setTextColor(WidgetEnv::color(&StyleEngine::sqlsTab, QStringLiteral("data_txt_clr"), QStringLiteral("#3a9790")));
    view.setItemDelegateForColumn(4, data);
    view.setColumnWidth(0, 22);
    view.setColumnWidth(1, 300);
    view.setColumnWidth(2, 80);
    view.setColumnWidth(3, 80);
    view.setColumnWidth(4, 150);
    view.verticalHeader()->hide();
    view.resize(660, 200);
    view.selectRow(1);
    save(&view, QStringLiteral("list_delegates"));
}

void tabs()
{
    TabWidget tabs;
    for (const char* name : {"Statistics", "Flow", "Sessions", ""})
        tabs.addTab(new QLabel(QString::fromLatin1(name)), QString::fromLatin1(name));
    tabs.setTabEnabled(3, false);
    tabs.setStyleSheet(QStringLiteral("QTabBar::tab:disabled {width: 20px; color: transparent; background: transparent;}"));
    for (int i = 1; i <= 3; ++i) {
        const int index = tabs.addTab(new QLabel(QStringLiteral("session %1").arg(i)),
                                      QStringLiteral("%1").arg(i, 7, 10, QLatin1Char('0')));
        tabs.setTabClosable(index);
    }
    tabs.setTabColor(5, true);
    tabs.setCurrentIndex(4);
    tabs.resize(620, 90);
    save(&tabs, QStringLiteral("tab_widget"));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1])
                      : qEnvironmentVariable("QUARVEL_BINARY_DIR", QStringLiteral(".")) + QStringLiteral("/gallery");
    QDir().mkpath(outDir);

    StyleEngine theme;
    WidgetEnv::setStyleEngine(&theme);

    editors();
    statistics();
    plotter();
    plotterMoved();
    tables();
    tabs();
    return failures == 0 ? 0 : 1;
}
