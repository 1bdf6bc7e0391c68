// The connection profiles dialog: the profile list, naming, name checks, widget dependencies, and
// Test / OK / Cancel against a real and an unreachable server.
#include "AppFixture.h"
#include "ProfilesDialog.h"

#include <QSqlDatabase>

class TestProfilesDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<App> app;
    std::unique_ptr<ProfilesDialog> d;

    /// Saves profiles {name, host = db.example, port = 3399} to settings.ini and opens the dialog on them.
    void open(const QList<QStringList>& profiles = {})
    {
        QList<Profile*>& list = app->settings->profiles;
        for (int i = 0; i < profiles.size(); ++i) {
            if (i == list.size())
                list << new Profile;
            list[i]->Name = profiles[i].value(0);
            list[i]->Host = profiles[i].value(1, "db.example");
            list[i]->Port = profiles[i].value(2, "3399").toUInt();
        }
        app->settings->saveProfiles();
        d = std::make_unique<ProfilesDialog>(app->settings.get(), app->lang.get());
    }
    template <typename T = QLineEdit> T* w(const char* name) { return child<T>(d.get(), name); }
    QString conn(const char* title, const char* text) { return app->box(&languageEngine::connections, title, text); }

private slots:
    void init() { app = std::make_unique<App>(); }
    void cleanup()
    {
        d.reset();
        app.reset();
    }

    void deleteFollowsProfileCount()
    {
        open();
        auto* del = w<QPushButton>("btnDelete");
        auto* list = w<QListWidget>("listProfiles");
        QVERIFY(list->count() == 1 && !del->isEnabled());
        w<QPushButton>("btnNew")->click();
        QVERIFY(list->currentRow() == 1 && del->isEnabled());
        ModalWatcher watcher(d.get());
        watcher.answer = QMessageBox::No;
        del->click();
        QCOMPARE(watcher.boxes, QStringList{conn("delete_question_title", "delete_question_str") + " 'Unknown_2'?"});
        QCOMPARE(app->settings->profiles.size(), 2);
        watcher.answer = QMessageBox::Yes;
        del->click();
        QVERIFY(list->count() == 1 && app->settings->profiles.size() == 1 && !del->isEnabled());
        // The form shows the remaining profile; the deleted one's form did not overwrite it.
        QCOMPARE(app->settings->profiles.at(0)->Name + '|' + w("edName")->text(), QString("Unknown|Unknown"));
    }

    void newProfileNumbering_data()
    {
        QTest::addColumn<QList<QStringList>>("profiles");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default list") << QList<QStringList>{{"Unknown"}} << "Unknown_2";
        QTest::newRow("2 and 7") << QList<QStringList>{{"Unknown_2"}, {"Unknown_7"}} << "Unknown_8";
        QTest::newRow("inside a name") << QList<QStringList>{{"my Unknown_12 copy"}} << "Unknown_13";
        QTest::newRow("case matters") << QList<QStringList>{{"unknown_40"}} << "Unknown_2";
    }
    void newProfileNumbering()
    {
        QFETCH(QList<QStringList>, profiles);
        QFETCH(QString, expected);
        open(profiles);
        w<QPushButton>("btnNew")->click();
        // Named in the store, the list and the form; the form starts from the defaults, not the profile shown before.
        QCOMPARE((QStringList{app->settings->profiles.last()->Name, w<QListWidget>("listProfiles")->currentItem()->text(),
                              w("edName")->text(), w("edHost")->text(), w<QSpinBox>("sbPort")->text()}),
                 (QStringList{expected, expected, expected, "localhost", "3306"}));
    }

    void nameCheckedAndKept_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<bool>("warned");
        QTest::newRow("duplicate") << "alpha" << "beta" << true;
        QTest::newRow("empty") << "" << "beta" << false;
        QTest::newRow("own") << "beta" << "beta" << false;
        QTest::newRow("new") << "gamma" << "gamma" << false;
    }
    void nameCheckedAndKept()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QFETCH(bool, warned);
        open({{"alpha", "h1"}, {"beta", "h2"}});
        auto* list = w<QListWidget>("listProfiles");
        list->setCurrentRow(1);
        ModalWatcher watcher(d.get());
        w("edName")->setText(typed);
        emit w("edName")->editingFinished();
        QCOMPARE(w("edName")->text(), kept);
        QCOMPARE(watcher.boxes, warned ? QStringList{conn("exists_error_title", "exists_error_str")} : QStringList());
        // Leaving the row stores the form in its profile; the list shows the stored name.
        list->setCurrentRow(0);
        QCOMPARE(app->settings->profiles.at(1)->Name + '|' + list->item(1)->text(), kept + '|' + kept);
    }

    void localSocketDisablesPort()
    {
        open();
        auto* port = w<QSpinBox>("sbPort");
        QVERIFY(port->isEnabled() && !w("edSocket")->isEnabled());
        port->setValue(3399);
        w<QComboBox>("cbxConMet")->setCurrentIndex(1);
        QCOMPARE(port->value(), 3306);
        QVERIFY(!port->isEnabled() && !w<QLabel>("lblPort")->isEnabled() && w("edSocket")->isEnabled());
    }

    void okAgainstServer_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("server down: the dialog stays, Cancel restores the file") << false;
        QTest::newRow("test server: saved") << true;
    }
    void okAgainstServer()
    {
        QFETCH(bool, reachable);
        const TestDb db = TestDb::load();
        if (reachable && !db.valid)
            QSKIP("the MariaDB test server fixture is not running");
        open({{"first", "nowhere.invalid"}});
        const QByteArray before = App::iniBytes();
        d->show();
        w<QPushButton>("btnNew")->click();
        w("edName")->setText("test server");
        w("edHost")->setText(reachable ? db.host : "127.0.0.1");
        w<QSpinBox>("sbPort")->setValue(reachable ? db.port : freePort());
        w("edUser")->setText(db.user);
        w("edPass")->setText(db.password);
        w<QSpinBox>("sbProfPort")->setValue(4555);
        ModalWatcher watcher(d.get());
        w<QPushButton>("btnTest")->click();
        QCOMPARE(App::iniBytes(), before);   // Test writes nothing
        w<QPushButton>("btnOK")->click();
        QStringList boxes{conn("test_title", reachable ? "test_success_str" : "test_failed_str")};
        if (!reachable)
            boxes << app->box(&languageEngine::errors, "error_str", "mysql_conn_error");
        QCOMPARE(watcher.boxes, boxes);
        QCOMPARE(d->isVisible(), !reachable);
        QCOMPARE(App::iniBytes() == before, !reachable);
        if (!reachable) {
            // Cancel: the file and the store as they were, the profile made in the dialog gone.
            w<QPushButton>("btnCancel")->click();
            QVERIFY(!d->isVisible() && d->result() == QDialog::Rejected);
            QCOMPARE(App::iniBytes(), before);
            QCOMPARE(app->settings->profiles.size(), 1);
            return;
        }
        QCOMPARE(d->result(), int(QDialog::Accepted));
        const Settings saved;   // read back from settings.ini
        const Profile* p = saved.profiles.value(1, saved.profiles.at(0));
        QCOMPARE((QList<QVariant>{saved.CurrentProfile, saved.profiles.size(), saved.profiles.at(0)->Name, p->Name,
                                  p->Host, p->Port, p->User, p->Password, p->ProfilerPort}),
                 (QList<QVariant>{1, 2, "first", "test server", db.host, uint(db.port), db.user, db.password, 4555u}));
        // The test connection does not linger in the connection registry.
        QVERIFY(!QSqlDatabase::contains(ProfilesDialog::testConnectionName()));
    }
};

QTEST_MAIN(TestProfilesDialog)
#include "tst_profilesdialog.moc"
