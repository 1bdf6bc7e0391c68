#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

/// Acts on the modal windows that code under test opens with exec(): records
/// each message box (title and text) and answers it, or hands any other modal
/// dialog to `onDialog`. Polls the modal stack from the event loop that the
/// modal exec() runs.
class ModalWatcher : public QObject
{
public:
    explicit ModalWatcher(QWidget* ignore = nullptr) : ignored(ignore)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this]() { poll(); });
        timer.start();
    }

    /// Button a message box is answered with (OK when the box lacks it).
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    /// Called for modal windows that are not message boxes.
    std::function<void(QDialog*)> onDialog;
    /// "title|text" of every message box seen, in order.
    QStringList boxes;
    /// Object names of other dialogs seen, in order.
    QStringList dialogs;

private:
    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == ignored || w == handled)
            return;
        handled = w;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes << box->windowTitle() + QLatin1Char('|') + box->text();
            QAbstractButton* b = box->button(answer);
            if (!b)
                b = box->button(QMessageBox::Ok);
            if (b)
                b->click();
            else
                box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialogs << dialog->objectName();
            if (onDialog)
                onDialog(dialog);
            else
                dialog->reject();
        }
    }

    QTimer timer;
    QPointer<QWidget> ignored;
    QPointer<QWidget> handled;
};
