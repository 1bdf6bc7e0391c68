#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class CommentDialog;
}

/// Edits the comment of a saved session. GUI thread only.
class CommentDialog : public QDialog
{
    Q_OBJECT
public:
    /// `text` is the comment to start from.
    CommentDialog(QString title, QString text, QWidget* parent = nullptr);
    ~CommentDialog() override;

    /// The comment as edited.
    QString getTextComment() const;

private:
    Ui::CommentDialog* ui;
};
