// Linked only into the test build of the desktop program (quarvel-autoclose): closes its start-up dialogs
// once shown, so that a test can drive the start-up without a display server. QUARVEL_TEST_AUTOCLOSE holds
// the plan, comma-separated: "settings=accept|reject" and "profiles=accept|reject|hold". The program prints
// "dialog <objectName> <action> window-visible=<0|1>" to standard error when it acts on one ("hold" leaves it open).
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QHash>
#include <QTimer>

#include <cstdio>

namespace {

class AutoClose : public QObject
{
public:
    explicit AutoClose(const QString& plan)
    {
        for (const QString& part : plan.split(QLatin1Char(','), Qt::SkipEmptyParts))
            actions.insert(part.section(QLatin1Char('='), 0, 0).trimmed(), part.section(QLatin1Char('='), 1).trimmed());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (event->type() != QEvent::Show || !dialog || !dialog->isWindow())
            return false;
        // "SettingsDialog" is planned as "settings"; each dialog is acted on once.
        QString name = dialog->objectName().toLower();
        name.chop(int(qstrlen("dialog")));
        const QString action = actions.take(name);
        if (!action.isEmpty())
            QTimer::singleShot(0, dialog, [dialog, action]() {
                const QWidget* owner = dialog->parentWidget();
                std::fprintf(stderr, "dialog %s %s window-visible=%d\n", qPrintable(dialog->objectName()),
                             qPrintable(action), owner && owner->isVisible() ? 1 : 0);
                std::fflush(stderr);
                if (action == QLatin1String("accept"))
                    dialog->accept();
                else if (action == QLatin1String("reject"))
                    dialog->reject();
            });
        return false;
    }

private:
    QHash<QString, QString> actions;
};

void installAutoClose()
{
    const QString plan = QString::fromLocal8Bit(qgetenv("QUARVEL_TEST_AUTOCLOSE"));
    if (!plan.isEmpty())
        qApp->installEventFilter(new AutoClose(plan));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installAutoClose)
