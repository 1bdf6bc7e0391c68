#include "StatisticsPage.h"
#include "ui_StatisticsPage.h"

#include "MngrSessions.h"
#include "PatternTable.h"
#include "PlotterMoved.h"
#include "Settings.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "languageEngine.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

#include <memory>

StatisticsPage::StatisticsPage(QWidget* parent) : QWidget(parent), ui(new Ui::StatisticsPage)
{
    ui->setupUi(this);
    ui->widget_5->setMinimumWidth(300);
    // The graphs get the room they need before the top lists grow.
    ui->splitterStat->setStretchFactor(0, 1);
    ui->splitterStat->setStretchFactor(1, 1);
    ui->splitterTop->setStretchFactor(0, 3);
    ui->splitterTop->setStretchFactor(1, 2);
    for (GraphStatistics* g : {ui->graphDbUpload, ui->graphDbDownload, ui->graphProfUpload,
                               ui->graphProfDownload})
        g->setUnit(QStringLiteral("Kb/s"));
}

StatisticsPage::~StatisticsPage()
{
    delete ui;
}

PlotterMoved* StatisticsPage::createPlotter()
{
    auto* layout = new QHBoxLayout(ui->frame_2);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* plotter = new PlotterMoved(ui->frame_2);
    plotter->setMaxY(20);
    layout->addWidget(plotter);
    return plotter;
}

void StatisticsPage::setupTable(QTableView* view, QStandardItemModel* model, int stretchColumn, bool rankOrder)
{
    auto* proxy = new QSortFilterProxyModel(view);
    proxy->setDynamicSortFilter(true);
    proxy->setSourceModel(model);
    view->setModel(proxy);
    proxies.append(qMakePair(view, proxy));
    // Rows come in the list's own order (by rank, or as the server sent
    // them): the proxy passes them through unsorted, so that a growing list
    // costs it no re-sorting, until a click on a header asks for an order.
    QHeaderView* header = view->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(rankOrder ? 0 : -1, Qt::AscendingOrder);
    auto sortOnClick = std::make_shared<QMetaObject::Connection>();
    *sortOnClick = connect(header, &QHeaderView::sortIndicatorChanged, view, [view, sortOnClick] {
        disconnect(*sortOnClick);
        view->setSortingEnabled(true);   // sorts by the indicator, and from now on with each click
    });
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(stretchColumn, QHeaderView::Stretch);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // The top lists grow by a row per new statement, on screen or not:
    // columns are sized from the first rows (the most frequent) only, as a
    // hidden table would otherwise measure every row after each batch.
    header->setResizeContentsPrecision(50);
}

QSortFilterProxyModel* StatisticsPage::proxyOf(QTableView* view) const
{
    for (const auto& p : proxies)
        if (p.first == view)
            return p.second;
    return nullptr;
}

void StatisticsPage::createTables(MngrSessions* mngr, const QString& css)
{
    setupTable(ui->tableTopQueriesDb, mngr->modelTopQueriesDb, 2);
    setupTable(ui->tableTopTablesDb, mngr->modelTopTablesDb, 1);
    setupTable(ui->tableTopDbDb, mngr->modelTopDbDb, 1);
    // The process list and command table keep the server's order, with no
    // sort indicator, until a header is clicked.
    setupTable(ui->tableProcessesDb, mngr->modelProcesses, 6, false);
    setupTable(ui->tableTopCmdDb, mngr->modelStatus, 0, false);
    setupTable(ui->tableTopQueries, mngr->modelTopQueries, 2);
    setupTable(ui->tableTopDb, mngr->modelTopDb, 1);

    auto bar = [this](QTableView* view, int column, bool drawText) {
        auto* d = new TableButtonDelegate(this, drawText);
        d->barColumn = column;
        if (view)
            view->setItemDelegateForColumn(column, d);
        return d;
    };
    serverBarDelegates = {bar(ui->tableTopQueriesDb, 4, false), bar(ui->tableTopTablesDb, 2, false),
                          bar(ui->tableTopDbDb, 2, false)};
    bar(ui->tableTopCmdDb, 4, true);
    profilerBarDelegates = {bar(ui->tableTopQueries, 4, true), bar(nullptr, 2, true),
                            bar(ui->tableTopDb, 2, true)};

    ui->tableTopQueries->setItemDelegateForColumn(2, new TableQueryDelegate(css, this));
    ui->tableTopQueriesDb->setItemDelegateForColumn(2, new TableQueryDelegate(css, this));
    ui->tableProcessesDb->setItemDelegateForColumn(6, new TableQueryDelegate(css, this));

    for (QTableView* v : {ui->tableTopQueries, ui->tableTopQueriesDb}) {
        v->setColumnHidden(3, true);
        v->setColumnHidden(5, true);
    }

    // Statement patterns and tables, by total time.
    patterns = new PatternTable(PatternTable::Patterns, css, ui->tabsTop);
    patterns->view()->setObjectName(QStringLiteral("tablePatterns"));
    patterns->setShownForm([mngr](const QString& text) {
        return mngr->highlighter ? mngr->highlighter(text) : text.toHtmlEscaped();
    });
    patterns->setStats(&mngr->statementPatterns.patterns);
    tables = new PatternTable(PatternTable::Tables, css, ui->tabsTop);
    tables->view()->setObjectName(QStringLiteral("tableTables"));
    tables->setStats(&mngr->statementPatterns.tables);
    ui->tabsTop->addTab(patterns, QString());
    ui->tabsTop->addTab(tables, QString());
}

void StatisticsPage::refreshPatterns()
{
    for (PatternTable* t : {patterns, tables})
        if (t && t->isVisible())
            t->refresh();
}

void StatisticsPage::showProfile(const Profile& profile, const QString& noData)
{
    ui->lbProfPort->setText(QString::number(profile.ProfilerPort));
    ui->lbDbPort->setText(profile.ConnectionMethod == 0 ? QString::number(profile.Port) : noData);
    ui->lbDbHost->setText(profile.Host + QLatin1Char(':'));
    ui->lbDbUser->setText(profile.User);
    static const char* const icons[] = {":/images/mysql.png", ":/images/mariadb.png",
                                        ":/images/percona.png"};
    static const char* const names[] = {"MySQL", "MariaDB", "Percona Server"};
    if (profile.DbType >= 0 && profile.DbType <= 2) {
        ui->lbDbIcon->setPixmap(QPixmap(QLatin1String(icons[profile.DbType])));
        ui->lbDbType->setText(QLatin1String(names[profile.DbType]));
    }
}

void StatisticsPage::showState(bool running, const QString& text)
{
    const QPixmap icon(running ? QStringLiteral(":/images/server_on.png")
                               : QStringLiteral(":/images/server_off.png"));
    ui->lbState->setText(text);
    ui->lbProfState->setText(text);
    ui->lbIconState->setPixmap(icon);
    ui->lbIconProfState->setPixmap(icon);
}

void StatisticsPage::showVersion(const QString& text)
{
    version = text;
    ui->lbDbVersion->setToolTip(text);
    ui->lbDbVersion->setText(
        ui->lbDbVersion->fontMetrics().elidedText(text, Qt::ElideRight, ui->lbDbVersion->width()));
}

void StatisticsPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!version.isEmpty())
        showVersion(version);
}

void StatisticsPage::clearGraphs()
{
    for (GraphStatistics* g : {ui->graphDbConnect, ui->graphDbQueries, ui->graphDbUpload,
                               ui->graphDbDownload, ui->graphProfConnect, ui->graphProfQueries,
                               ui->graphProfUpload, ui->graphProfDownload})
        g->clearGraph();
}

void StatisticsPage::changeLanguage(languageEngine* le)
{
    auto t = [le](const char* key) { return le->statistics(QLatin1String(key)); };
    ui->lbl1->setTitle(t("stat_server_group"));
    ui->lbl5->setTitle(t("profiler_stat_group"));
    ui->lbProfStat->setTitle(t("profiler_group"));
    ui->lbHeadUptime->setText(t("server_uptime_str"));
    ui->lbHeadAvg->setText(t("stat_avgqueries_str"));
    ui->lbDbHeadUser->setText(t("stat_username"));
    ui->lbQueriesSent->setText(t("queries_sent_str"));
    ui->lbRowReceived->setText(t("rows_str"));
    ui->lbDataReceived->setText(t("data_str"));
    ui->lbSessions->setText(t("sessions_str"));
    ui->lbErCon->setText(t("error_con_str"));
    ui->lbErQueries->setText(t("error_queries_str"));
    ui->tabsStat->setTabText(0, t("server_tab"));
    ui->tabsStat->setTabText(1, t("profiler_tab"));

    const QString graphHeaders[] = {t("connections_graph_str"), t("queries_graph_str"),
                                    t("upload_graph_str"), t("download_graph_str")};
    GraphStatistics* const server[] = {ui->graphDbConnect, ui->graphDbQueries, ui->graphDbUpload,
                                       ui->graphDbDownload};
    GraphStatistics* const profiler[] = {ui->graphProfConnect, ui->graphProfQueries,
                                         ui->graphProfUpload, ui->graphProfDownload};
    for (int i = 0; i < 4; ++i) {
        server[i]->setHeader(graphHeaders[i]);
        profiler[i]->setHeader(graphHeaders[i]);
    }

    ui->groupTop->setTitle(t("top_prof_group"));
    ui->tabsTop->setTabText(0, t("queries_prof_group"));
    ui->tabsTop->setTabText(1, t("databases_prof_group"));
    if (patterns) {
        ui->tabsTop->setTabText(ui->tabsTop->indexOf(patterns), t("patterns_prof_group"));
        ui->tabsTop->setTabText(ui->tabsTop->indexOf(tables), t("tables_prof_group"));
        patterns->changeLanguage(le);
        tables->changeLanguage(le);
    }
    ui->groupTopDb->setTitle(t("top_db_group"));
    ui->tabsTopDb->setTabText(0, t("processes_group"));
    ui->tabsTopDb->setTabText(1, t("queries_db_group"));
    ui->tabsTopDb->setTabText(2, t("tables_db_group"));
    ui->tabsTopDb->setTabText(3, t("databases_db_group"));
    ui->tabsTopDb->setTabText(4, t("commands_db_group"));

    // Column headers, set on the models through their proxies.
    auto headers = [this](QTableView* view, const QList<QPair<int, QString>>& cols) {
        QAbstractItemModel* m = view->model();
        if (!m)
            return;
        for (const auto& c : cols)
            if (c.first < m->columnCount())
                m->setHeaderData(c.first, Qt::Horizontal, c.second);
    };
    for (QTableView* v : {ui->tableTopQueries, ui->tableTopQueriesDb})
        headers(v, {{0, t("num_col")}, {1, t("user_col")}, {2, t("query_col")}, {4, t("count_col")}});
    for (QTableView* v : {ui->tableTopDb, ui->tableTopDbDb})
        headers(v, {{0, t("num_col")}, {1, t("database_col")}, {2, t("count_col")}});
    headers(ui->tableTopTablesDb, {{0, t("num_col")}, {1, t("table_col")}, {2, t("count_col")}});
    headers(ui->tableProcessesDb, {{0, t("id_col")}, {1, t("user_col")}, {2, t("host_col")},
                                   {3, t("db_col")}, {4, t("command_col")}, {5, t("time_col")},
                                   {6, t("query_col")}});
    headers(ui->tableTopCmdDb, {{0, t("command_col")}, {1, t("count_col")}, {2, t("per_hour_col")},
                                {3, t("per_sec_col")}, {4, t("percent_col")}});
}
