#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class DataViewerWidget;
}
class languageEngine;

/// Shows one whole value (a long or cut cell) and copies it to the
/// clipboard. Modal, one use. GUI thread only.
class DataViewerWidget : public QDialog
{
    Q_OBJECT
public:
    /// `lang` gives the title and tool tip (session view texts); without it
    /// the engine handed to WidgetEnv is used, and without that the form's texts.
    DataViewerWidget(QString text, QWidget* parent, languageEngine* lang = nullptr);
    ~DataViewerWidget() override;

    /// The value shown.
    QString text() const;

    /// Characters without white space beyond which the value wraps anywhere
    /// instead of at word boundaries.
    static const int longWord = 1000;
    /// Length of the longest run of characters without white space.
    static int longestWord(const QString& text);

public slots:
    /// Puts the value on the system clipboard (clipboard mode).
    void on_btnCopy_clicked();

private:
    Ui::DataViewerWidget* ui;
};
