// The general settings dialog: language list, limits, writing [General] and
// switching the language of the open main window at once.

#include "MainWindow.h"
#include "ui_MainWindow.h"
#include "ui_StatisticsPage.h"

#include "MngrSessions.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "StatisticsPage.h"
#include "StyleEngine.h"
#include "languageEngine.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <memory>

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void languageList();
    void limitsBounded();
    void languageSwitchRetextsOpenWindow();
    void acceptWithoutChangesRewritesGeneral();
    void cancelChangesNothing();
    void optionsWritten();

private:
    int comboRow(SettingsDialog& d, const QString& baseName) const;
    QString iniPath() const { return Settings::dataLocation() + QStringLiteral("/settings.ini"); }

    std::unique_ptr<Settings> settings;
    std::unique_ptr<languageEngine> lang;
    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> win;
};

void TestSettingsDialog::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
}

void TestSettingsDialog::init()
{
    QFile::remove(iniPath());
    settings = std::make_unique<Settings>();
    settings->saveGeneral();
    lang = std::make_unique<languageEngine>(settings.get());
    QVERIFY(lang->loadLanguage(QStringLiteral("english")));
    connect(settings.get(), &Settings::changeLanguage, lang.get(), &languageEngine::changeLanguage);
    mngr = std::make_unique<MngrSessions>(settings.get());
    style = std::make_unique<StyleEngine>();
    win = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(),
                                       QApplication::clipboard());
    win->show();
}

void TestSettingsDialog::cleanup()
{
    win.reset();
    style.reset();
    mngr.reset();
    lang.reset();
    settings.reset();
}

int TestSettingsDialog::comboRow(SettingsDialog&, const QString& baseName) const
{
    const QList<QStringList> languages = lang->listLanguages();
    for (int i = 0; i < languages.size(); ++i)
        if (languages.at(i).value(1) == baseName)
            return i;
    return -1;
}

void TestSettingsDialog::languageList()
{
    SettingsDialog d(lang.get(), settings.get(), win.get());
    auto* combo = d.findChild<QComboBox*>(QStringLiteral("language"));
    QVERIFY(combo);
    QCOMPARE(combo->count(), lang->listLanguages().size());
    const int en = comboRow(d, QStringLiteral("english"));
    QVERIFY(en >= 0);
    QCOMPARE(combo->itemText(en), QStringLiteral("English - English"));
    QCOMPARE(combo->currentIndex(), lang->currentIndex);
    const int de = comboRow(d, QStringLiteral("german"));
    QVERIFY(de >= 0);
    QVERIFY(combo->itemText(de).startsWith(QStringLiteral("German - ")));
    QCOMPARE(d.windowTitle(), lang->settings(QStringLiteral("settings_title")));
    QCOMPARE(d.findChild<QGroupBox*>(QStringLiteral("lbl1"))->title(), lang->settings(QStringLiteral("general_group")));
    QVERIFY(!(d.windowFlags() & Qt::WindowContextHelpButtonHint));
}

void TestSettingsDialog::limitsBounded()
{
    SettingsDialog d(lang.get(), settings.get(), win.get());
    for (const char* name : {"sbMaxFlow", "sbMaxSess"}) {
        auto* sb = d.findChild<QSpinBox*>(QLatin1String(name));
        QVERIFY(sb);
        sb->setValue(5);
        QCOMPARE(sb->value(), 10);
        sb->setValue(20000);
        QCOMPARE(sb->value(), 10000);
    }
    d.findChild<QSpinBox*>(QStringLiteral("sbMaxFlow"))->setValue(9);
    d.accept();
    QCOMPARE(settings->MaxLinesFlow, 10);
    QCOMPARE(QSettings(iniPath(), QSettings::IniFormat).value(QStringLiteral("MaxLinesFlow")).toInt(), 10);
}

void TestSettingsDialog::languageSwitchRetextsOpenWindow()
{
    // The German texts, read independently of the engine the window uses.
    Settings other;
    languageEngine german(&other);
    QVERIFY(german.loadLanguage(QStringLiteral("german")));
    const QString deStart = german.toolbar(QStringLiteral("start_btn"));
    const QString deSettings = german.toolbar(QStringLiteral("settings_btn"));
    const QString deServerGroup = german.statistics(QStringLiteral("profiler_stat_group"));
    const QString deTitle = german.statistics(QStringLiteral("statistics_title"));
    QVERIFY(deSettings != lang->toolbar(QStringLiteral("settings_btn")));
    QVERIFY(deServerGroup != lang->statistics(QStringLiteral("profiler_stat_group")));

    QSignalSpy switched(lang.get(), &languageEngine::languageChange);
    SettingsDialog d(lang.get(), settings.get(), win.get());
    d.show();
    d.findChild<QComboBox*>(QStringLiteral("language"))->setCurrentIndex(comboRow(d, QStringLiteral("german")));
    d.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();

    QCOMPARE(switched.count(), 1);
    QVERIFY(!d.isVisible());
    QCOMPARE(settings->Language, QStringLiteral("german"));
    QSettings s(iniPath(), QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("Language")).toString(), QStringLiteral("german"));
    QCOMPARE(s.value(QStringLiteral("MaxSessions")).toInt(), settings->MaxSessions);

    QCOMPARE(win->form()->settingsBtn->text(), deSettings);
    QCOMPARE(win->form()->startBtn->text(), deStart);
    QCOMPARE(win->form()->tabWidget->tabText(0), deTitle);
    QCOMPARE(win->statisticsPage()->form()->lbl5->title(), deServerGroup);
    QCOMPARE(win->statisticsPage()->form()->statUptime->text(), german.statistics(QStringLiteral("stat_nodata_str")));
}

void TestSettingsDialog::acceptWithoutChangesRewritesGeneral()
{
    {
        QSettings s(iniPath(), QSettings::IniFormat);
        s.remove(QStringLiteral("CheckUpdate"));
        s.remove(QStringLiteral("MaxSessions"));
    }
    settings->CheckUpdate = false;
    QSignalSpy switched(lang.get(), &languageEngine::languageChange);
    QSignalSpy langChanged(settings.get(), &Settings::changeLanguage);
    SettingsDialog d(lang.get(), settings.get(), win.get());
    d.accept();
    QCOMPARE(switched.count(), 0);
    QCOMPARE(langChanged.count(), 0);
    QSettings s(iniPath(), QSettings::IniFormat);
    QVERIFY(s.contains(QStringLiteral("CheckUpdate")));
    QCOMPARE(s.value(QStringLiteral("CheckUpdate")).toBool(), false);
    QCOMPARE(s.value(QStringLiteral("MaxSessions")).toInt(), 100);
    QCOMPARE(s.value(QStringLiteral("Language")).toString(), QStringLiteral("english"));
}

void TestSettingsDialog::cancelChangesNothing()
{
    QFile f(iniPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    SettingsDialog d(lang.get(), settings.get(), win.get());
    d.findChild<QComboBox*>(QStringLiteral("language"))->setCurrentIndex(comboRow(d, QStringLiteral("german")));
    d.findChild<QCheckBox*>(QStringLiteral("stayOnTop"))->setChecked(true);
    d.findChild<QSpinBox*>(QStringLiteral("sbMaxFlow"))->setValue(50);
    d.reject();
    QCOMPARE(settings->Language, QStringLiteral("english"));
    QVERIFY(!settings->StayOnTop);
    QCOMPARE(settings->MaxLinesFlow, 300);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

void TestSettingsDialog::optionsWritten()
{
    SettingsDialog d(lang.get(), settings.get(), win.get());
    auto check = [&](const char* name, bool on) {
        auto* c = d.findChild<QCheckBox*>(QLatin1String(name));
        QVERIFY(c);
        c->setChecked(on);
    };
    check("chTunnel", true);
    check("updates", false);
    check("openTab", true);
    check("autoStart", false);
    check("stayOnTop", true);
    d.findChild<QSpinBox*>(QStringLiteral("sbMaxSess"))->setValue(250);
    d.accept();
    QVERIFY(settings->AlwaysTunneling);
    QVERIFY(!settings->CheckUpdate);
    QVERIFY(settings->AutoOpenNewSession);
    QVERIFY(!settings->AutoStart);
    QVERIFY(settings->StayOnTop);
    QSettings s(iniPath(), QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("AlwaysTunneling")).toBool(), true);
    QCOMPARE(s.value(QStringLiteral("CheckUpdate")).toBool(), false);
    QCOMPARE(s.value(QStringLiteral("AutoOpenNewSession")).toBool(), true);
    QCOMPARE(s.value(QStringLiteral("AutoStart")).toBool(), false);
    QCOMPARE(s.value(QStringLiteral("StayOnTop")).toBool(), true);
    QCOMPARE(s.value(QStringLiteral("MaxSessions")).toInt(), 250);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
