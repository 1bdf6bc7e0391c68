#pragma once
// Answering the modal windows that exec() opens, and widget lookup by name.

#include <QtWidgets>

#include <functional>

template <typename T> T* child(QObject* parent, const char* name)
{
    T* c = parent->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no widget %s", name);
    return c;
}

/// Answers the modal windows that exec() opens: message boxes are recorded
/// ("title|text") and answered with `answer` (else OK); other dialogs are
/// recorded by object name and handed to `onDialog` (else rejected).
class ModalWatcher : public QTimer
{
public:
    explicit ModalWatcher(QWidget* ignore = nullptr) : ignored(ignore)
    {
        QObject::connect(this, &QTimer::timeout, this, &ModalWatcher::poll);
        start(10);
    }
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::function<void(QDialog*)> onDialog;
    QStringList boxes, dialogs;

private:
    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == ignored || w == handled)
            return;
        handled = w;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes << box->windowTitle() + '|' + box->text();
            QAbstractButton* b = box->button(answer) ? box->button(answer) : box->button(QMessageBox::Ok);
            b ? b->click() : box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialogs << dialog->objectName();
            onDialog ? onDialog(dialog) : dialog->reject();
        }
    }
    QPointer<QWidget> ignored, handled;
};
