// The connection profiles dialog: the profile list, naming, name checks,
// widget dependencies, and OK / Cancel against a real and an unreachable server.

#include "ModalWatcher.h"
#include "ProfilesDialog.h"
#include "Settings.h"
#include "TestDb.h"
#include "languageEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QTcpServer>
#include <QtTest>

#include <memory>

class TestProfilesDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void deleteFollowsProfileCount();
    void deleteAsksAndKeepsOnNo();
    void newProfileNumbering_data();
    void newProfileNumbering();
    void rowChangeKeepsEdits();
    void duplicateNameRestored();
    void emptyNameAndHostRestored();
    void localSocketDisablesPort();
    void typeIconFollowsCombo();
    void unreachableServerKeepsDialogAndCancelRestoresFile();
    void testButtonReportsFailureAndSuccess();
    void okSavesProfilesAndCurrent();
    void interactivePasswordAskedAndNotStored();

private:
    /// Writes settings.ini with the given profiles (name, host, port).
    void writeProfiles(const QList<QStringList>& profiles, int current = 0, const QString& user = {},
                       const QString& password = {});
    QByteArray fileBytes() const;
    template <typename T> T* w(QDialog& d, const char* name)
    {
        T* child = d.findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no widget %s", name);
        return child;
    }
    static int closedPort();

    std::unique_ptr<Settings> settings;
    std::unique_ptr<languageEngine> lang;
};

void TestProfilesDialog::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
}

void TestProfilesDialog::init()
{
    QFile::remove(Settings::dataLocation() + QStringLiteral("/settings.ini"));
    settings = std::make_unique<Settings>();
    lang = std::make_unique<languageEngine>(settings.get());
    QVERIFY(lang->loadLanguage(QStringLiteral("english")));
}

void TestProfilesDialog::cleanup()
{
    lang.reset();
    settings.reset();
}

void TestProfilesDialog::writeProfiles(const QList<QStringList>& profiles, int current, const QString& user,
                                       const QString& password)
{
    QDir().mkpath(Settings::dataLocation());
    {
        QSettings s(Settings::dataLocation() + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        s.clear();
        s.beginGroup(QStringLiteral("Profiles"));
        s.setValue(QStringLiteral("CountProfiles"), profiles.size());
        s.setValue(QStringLiteral("CurrentProfile"), current);
        for (int i = 0; i < profiles.size(); ++i) {
            s.beginGroup(QStringLiteral("Profile%1").arg(i));
            s.setValue(QStringLiteral("Name"), profiles[i].value(0));
            s.setValue(QStringLiteral("Host"), profiles[i].value(1, QStringLiteral("localhost")));
            s.setValue(QStringLiteral("Port"), profiles[i].value(2, QStringLiteral("3306")).toUInt());
            s.setValue(QStringLiteral("User"), user.isEmpty() ? QStringLiteral("root") : user);
            s.setValue(QStringLiteral("Password"), settings->encodeStr(password));
            s.setValue(QStringLiteral("StatusCheck"), true);
            s.setValue(QStringLiteral("StatusPeriod"), 3u);
            s.setValue(QStringLiteral("ProfilerPort"), 4040u);
            s.endGroup();
        }
        s.endGroup();
    }
    settings->load();
}

QByteArray TestProfilesDialog::fileBytes() const
{
    QFile f(Settings::dataLocation() + QStringLiteral("/settings.ini"));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

int TestProfilesDialog::closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

void TestProfilesDialog::deleteFollowsProfileCount()
{
    ProfilesDialog d(settings.get(), lang.get());
    auto* del = w<QPushButton>(d, "btnDelete");
    auto* list = w<QListWidget>(d, "listProfiles");
    QCOMPARE(list->count(), 1);
    QVERIFY(!del->isEnabled());

    w<QPushButton>(d, "btnNew")->click();
    QCOMPARE(list->count(), 2);
    QCOMPARE(settings->profiles.size(), 2);
    QVERIFY(del->isEnabled());
    QCOMPARE(list->currentRow(), 1);

    ModalWatcher watcher(&d);
    watcher.answer = QMessageBox::Yes;
    del->click();
    QCOMPARE(watcher.boxes.size(), 1);
    QVERIFY(watcher.boxes.at(0).endsWith(QStringLiteral(" 'Unknown_2'?")));
    QCOMPARE(list->count(), 1);
    QCOMPARE(settings->profiles.size(), 1);
    QCOMPARE(settings->profiles.at(0)->Name, QStringLiteral("Unknown"));
    QVERIFY(!del->isEnabled());
    // The form shows the remaining profile, not the deleted one.
    QCOMPARE(w<QLineEdit>(d, "edName")->text(), QStringLiteral("Unknown"));
}

void TestProfilesDialog::deleteAsksAndKeepsOnNo()
{
    writeProfiles({{QStringLiteral("first")}, {QStringLiteral("second")}, {QStringLiteral("third")}}, 1);
    ProfilesDialog d(settings.get(), lang.get());
    auto* list = w<QListWidget>(d, "listProfiles");
    QCOMPARE(list->currentRow(), 1);

    {
        ModalWatcher no(&d);
        no.answer = QMessageBox::No;
        w<QPushButton>(d, "btnDelete")->click();
        QCOMPARE(no.boxes.size(), 1);
        QCOMPARE(no.boxes.at(0), lang->connections(QStringLiteral("delete_question_title")) + QLatin1Char('|')
                                     + lang->connections(QStringLiteral("delete_question_str"))
                                     + QStringLiteral(" 'second'?"));
        QCOMPARE(settings->profiles.size(), 3);
    }

    ModalWatcher yes(&d);
    yes.answer = QMessageBox::Yes;
    w<QPushButton>(d, "btnDelete")->click();
    QCOMPARE(settings->profiles.size(), 2);
    QCOMPARE(settings->profiles.at(0)->Name, QStringLiteral("first"));
    QCOMPARE(settings->profiles.at(1)->Name, QStringLiteral("third"));
    // The profile now shown was not overwritten with the deleted one's form.
    const int row = list->currentRow();
    QVERIFY(row >= 0);
    QCOMPARE(w<QLineEdit>(d, "edName")->text(), settings->profiles.at(row)->Name);
    QVERIFY(w<QPushButton>(d, "btnDelete")->isEnabled());
}

void TestProfilesDialog::newProfileNumbering_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("expected");
    QTest::newRow("default list") << QStringList{QStringLiteral("Unknown")} << QStringLiteral("Unknown_2");
    QTest::newRow("2 and 7") << QStringList{QStringLiteral("Unknown_2"), QStringLiteral("Unknown_7")}
                             << QStringLiteral("Unknown_8");
    QTest::newRow("inside a name") << QStringList{QStringLiteral("my Unknown_12 copy")}
                                   << QStringLiteral("Unknown_13");
    QTest::newRow("case matters") << QStringList{QStringLiteral("unknown_40")} << QStringLiteral("Unknown_2");
}

void TestProfilesDialog::newProfileNumbering()
{
    QFETCH(QStringList, names);
    QFETCH(QString, expected);
    QList<QStringList> profiles;
    for (const QString& n : names)
        profiles << QStringList{n};
    writeProfiles(profiles);
    ProfilesDialog d(settings.get(), lang.get());
    w<QPushButton>(d, "btnNew")->click();
    QCOMPARE(settings->profiles.last()->Name, expected);
    QCOMPARE(w<QListWidget>(d, "listProfiles")->currentItem()->text(), expected);
    QCOMPARE(w<QLineEdit>(d, "edName")->text(), expected);
    // A new profile starts from the record defaults.
    QCOMPARE(w<QLineEdit>(d, "edHost")->text(), QStringLiteral("localhost"));
    QCOMPARE(w<QSpinBox>(d, "sbPort")->value(), 3306);
    QCOMPARE(w<QSpinBox>(d, "sbProfPort")->value(), 4040);
}

void TestProfilesDialog::rowChangeKeepsEdits()
{
    writeProfiles({{QStringLiteral("a"), QStringLiteral("h1")}, {QStringLiteral("b"), QStringLiteral("h2")}});
    ProfilesDialog d(settings.get(), lang.get());
    auto* list = w<QListWidget>(d, "listProfiles");
    w<QLineEdit>(d, "edHost")->setText(QStringLiteral("edited"));
    w<QSpinBox>(d, "sbPort")->setValue(3310);
    list->setCurrentRow(1);
    QCOMPARE(w<QLineEdit>(d, "edHost")->text(), QStringLiteral("h2"));
    QCOMPARE(settings->profiles.at(0)->Host, QStringLiteral("edited"));
    QCOMPARE(settings->profiles.at(0)->Port, 3310u);
    list->setCurrentRow(0);
    QCOMPARE(w<QLineEdit>(d, "edHost")->text(), QStringLiteral("edited"));
}

void TestProfilesDialog::duplicateNameRestored()
{
    writeProfiles({{QStringLiteral("alpha")}, {QStringLiteral("beta")}});
    ProfilesDialog d(settings.get(), lang.get());
    auto* list = w<QListWidget>(d, "listProfiles");
    auto* name = w<QLineEdit>(d, "edName");
    list->setCurrentRow(1);

    ModalWatcher watcher(&d);
    name->setText(QStringLiteral("alpha"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("alpha"));   // follows the typing
    emit name->editingFinished();
    QCOMPARE(watcher.boxes, QStringList{lang->connections(QStringLiteral("exists_error_title")) + QLatin1Char('|')
                                        + lang->connections(QStringLiteral("exists_error_str"))});
    QCOMPARE(name->text(), QStringLiteral("beta"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("beta"));

    // Its own name and a fresh one are taken silently.
    name->setText(QStringLiteral("beta"));
    emit name->editingFinished();
    name->setText(QStringLiteral("gamma"));
    emit name->editingFinished();
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(name->text(), QStringLiteral("gamma"));
    list->setCurrentRow(0);
    QCOMPARE(settings->profiles.at(1)->Name, QStringLiteral("gamma"));
}

void TestProfilesDialog::emptyNameAndHostRestored()
{
    writeProfiles({{QStringLiteral("alpha"), QStringLiteral("db.example")}});
    ProfilesDialog d(settings.get(), lang.get());
    auto* name = w<QLineEdit>(d, "edName");
    auto* host = w<QLineEdit>(d, "edHost");
    name->clear();
    emit name->editingFinished();
    QCOMPARE(name->text(), QStringLiteral("alpha"));
    host->clear();
    emit host->editingFinished();
    QCOMPARE(host->text(), QStringLiteral("db.example"));
}

void TestProfilesDialog::localSocketDisablesPort()
{
    ProfilesDialog d(settings.get(), lang.get());
    auto* method = w<QComboBox>(d, "cbxConMet");
    auto* port = w<QSpinBox>(d, "sbPort");
    QCOMPARE(method->currentIndex(), 0);
    QVERIFY(!w<QLineEdit>(d, "edSocket")->isEnabled());
    port->setValue(3399);

    method->setCurrentIndex(1);
    QCOMPARE(port->value(), 3306);
    QVERIFY(!port->isEnabled());
    QVERIFY(!w<QLabel>(d, "lblPort")->isEnabled());
    QVERIFY(w<QLineEdit>(d, "edSocket")->isEnabled());
    QVERIFY(w<QLabel>(d, "lblSocket")->isEnabled());
    QVERIFY(w<QLineEdit>(d, "edHost")->isEnabled());

    method->setCurrentIndex(0);
    QVERIFY(port->isEnabled());
    QVERIFY(!w<QLineEdit>(d, "edSocket")->isEnabled());

    // The ranges the form allows.
    QCOMPARE(port->maximum(), 99999);
    QCOMPARE(w<QSpinBox>(d, "sbPeriod")->maximum(), 60);
    QCOMPARE(w<QLineEdit>(d, "edPass")->echoMode(), QLineEdit::Password);
}

void TestProfilesDialog::typeIconFollowsCombo()
{
    ProfilesDialog d(settings.get(), lang.get());
    auto* item = w<QListWidget>(d, "listProfiles")->item(0);
    const QImage mysql = item->icon().pixmap(16).toImage();
    QVERIFY(!mysql.isNull());
    w<QComboBox>(d, "cbxDbType")->setCurrentIndex(1);
    const QImage mariadb = item->icon().pixmap(16).toImage();
    QCOMPARE(mariadb, QIcon(QStringLiteral(":/images/mariadb.png")).pixmap(16).toImage());
    QVERIFY(mariadb != mysql);
}

void TestProfilesDialog::unreachableServerKeepsDialogAndCancelRestoresFile()
{
    const int port = closedPort();
    writeProfiles({{QStringLiteral("kept"), QStringLiteral("127.0.0.1"), QString::number(port)}});
    const QByteArray before = fileBytes();

    ProfilesDialog d(settings.get(), lang.get());
    d.show();
    w<QPushButton>(d, "btnNew")->click();
    w<QLineEdit>(d, "edHost")->setText(QStringLiteral("127.0.0.1"));
    w<QSpinBox>(d, "sbPort")->setValue(port);

    ModalWatcher watcher(&d);
    w<QPushButton>(d, "btnOK")->click();
    QCOMPARE(watcher.boxes, QStringList{lang->errors(QStringLiteral("error_str")) + QLatin1Char('|')
                                        + lang->errors(QStringLiteral("mysql_conn_error"))});
    QVERIFY(d.isVisible());
    QVERIFY(d.result() != QDialog::Accepted);
    QCOMPARE(fileBytes(), before);

    w<QPushButton>(d, "btnCancel")->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QCOMPARE(fileBytes(), before);
    // The store is back to the file: the profile made in the dialog is gone.
    QCOMPARE(settings->profiles.size(), 1);
    QCOMPARE(settings->profiles.at(0)->Name, QStringLiteral("kept"));
}

void TestProfilesDialog::testButtonReportsFailureAndSuccess()
{
    const int port = closedPort();
    writeProfiles({{QStringLiteral("p"), QStringLiteral("127.0.0.1"), QString::number(port)}});
    ProfilesDialog d(settings.get(), lang.get());
    ModalWatcher watcher(&d);
    w<QPushButton>(d, "btnTest")->click();
    const QString title = lang->connections(QStringLiteral("test_title"));
    QCOMPARE(watcher.boxes, QStringList{title + QLatin1Char('|') + lang->connections(QStringLiteral("test_failed_str"))});

    REQUIRE_TESTDB(db);
    w<QLineEdit>(d, "edHost")->setText(db.host);
    w<QSpinBox>(d, "sbPort")->setValue(db.port);
    w<QLineEdit>(d, "edUser")->setText(db.user);
    w<QLineEdit>(d, "edPass")->setText(db.password);
    w<QPushButton>(d, "btnTest")->click();
    QCOMPARE(watcher.boxes.size(), 2);
    QCOMPARE(watcher.boxes.at(1), title + QLatin1Char('|') + lang->connections(QStringLiteral("test_success_str")));
    // Test writes nothing.
    QSettings s(settings->fileName, QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("Profiles/Profile0/Port")).toInt(), port);
}

void TestProfilesDialog::okSavesProfilesAndCurrent()
{
    REQUIRE_TESTDB(db);
    writeProfiles({{QStringLiteral("first"), QStringLiteral("nowhere.invalid")}});
    ProfilesDialog d(settings.get(), lang.get());
    d.show();
    w<QPushButton>(d, "btnNew")->click();
    w<QLineEdit>(d, "edName")->setText(QStringLiteral("test server"));
    w<QLineEdit>(d, "edHost")->setText(db.host);
    w<QSpinBox>(d, "sbPort")->setValue(db.port);
    w<QLineEdit>(d, "edUser")->setText(db.user);
    w<QLineEdit>(d, "edPass")->setText(db.password);
    w<QSpinBox>(d, "sbProfPort")->setValue(4555);

    ModalWatcher watcher(&d);
    w<QPushButton>(d, "btnOK")->click();
    QVERIFY2(watcher.boxes.isEmpty(), qPrintable(watcher.boxes.join(QLatin1Char('\n'))));
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(settings->CurrentProfile, 1);

    QSettings s(settings->fileName, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("Profiles"));
    QCOMPARE(s.value(QStringLiteral("CountProfiles")).toInt(), 2);
    QCOMPARE(s.value(QStringLiteral("CurrentProfile")).toInt(), 1);
    QCOMPARE(s.value(QStringLiteral("Profile0/Name")).toString(), QStringLiteral("first"));
    QCOMPARE(s.value(QStringLiteral("Profile1/Name")).toString(), QStringLiteral("test server"));
    QCOMPARE(s.value(QStringLiteral("Profile1/Host")).toString(), db.host);
    QCOMPARE(s.value(QStringLiteral("Profile1/Port")).toInt(), int(db.port));
    QCOMPARE(s.value(QStringLiteral("Profile1/ProfilerPort")).toInt(), 4555);
    const QString stored = s.value(QStringLiteral("Profile1/Password")).toString();
    QVERIFY(stored != db.password);
    QCOMPARE(settings->decodeStr(stored), db.password);
    // The test connection does not linger in the connection registry.
    QVERIFY(!QSqlDatabase::contains(ProfilesDialog::testConnectionName()));
}

void TestProfilesDialog::interactivePasswordAskedAndNotStored()
{
    REQUIRE_TESTDB(db);
    writeProfiles({{QStringLiteral("ask"), db.host, QString::number(db.port)}}, 0, db.user);
    ProfilesDialog d(settings.get(), lang.get());
    d.show();
    auto* pass = w<QLineEdit>(d, "edPass");
    w<QCheckBox>(d, "chbInterPass")->click();
    QVERIFY(!pass->isEnabled());
    QVERIFY(pass->text().isEmpty());

    ModalWatcher watcher(&d);
    int asked = 0;
    watcher.onDialog = [&](QDialog* dialog) {
        ++asked;
        QCOMPARE(dialog->windowTitle(), lang->connections(QStringLiteral("interact_pass_enter_title")));
        dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(db.password);
        dialog->findChild<QPushButton*>(QStringLiteral("pushButton"))->click();
    };
    w<QPushButton>(d, "btnTest")->click();
    QCOMPARE(asked, 1);
    QCOMPARE(watcher.boxes.size(), 1);
    QVERIFY(watcher.boxes.at(0).endsWith(lang->connections(QStringLiteral("test_success_str"))));

    w<QPushButton>(d, "btnOK")->click();
    QCOMPARE(asked, 2);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    // Kept in memory for the run, never written.
    QCOMPARE(settings->profiles.at(0)->Password, db.password);
    QSettings s(settings->fileName, QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("Profiles/Profile0/InteractPassword")).toBool(), true);
    QVERIFY(s.value(QStringLiteral("Profiles/Profile0/Password")).toString().isEmpty());
}

QTEST_MAIN(TestProfilesDialog)
#include "tst_profilesdialog.moc"
