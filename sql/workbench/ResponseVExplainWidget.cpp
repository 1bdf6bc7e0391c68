#include "ResponseVExplainWidget.h"
#include "ui_ResponseVExplainWidget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSqlQuery>
#include <cmath>

namespace {

bool isBranch(const QJsonValue& v)
{
    return (v.isObject() && !v.toObject().isEmpty()) || (v.isArray() && !v.toArray().isEmpty());
}

/// The plan's JSON text from the first cell; empty when there is none.
QByteArray planText(const ResultSet& result)
{
    if (result.isNull(0, 0))
        return QByteArray();
    const QVariant& v = result.rows.at(0).at(0);
    return v.userType() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
}

} // namespace

ResponseVExplainWidget::ResponseVExplainWidget(const ResultSet& result, QWidget* parent)
    : QWidget(parent), ui(new Ui::ResponseVExplainWidget)
{
    ui->setupUi(this);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(planText(result), &error);
    if (error.error != QJsonParseError::NoError)
        return;
    QTreeWidgetItem* root = ui->treeWidget->invisibleRootItem();
    addItems(doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object()), root);
    if (root->childCount() > 0)
        root->child(0)->setExpanded(true);
}

ResponseVExplainWidget::ResponseVExplainWidget(QSqlQuery* query, QWidget* parent)
    : ResponseVExplainWidget(query ? readResultSet(*query, 0.0) : ResultSet(), parent)
{
}

ResponseVExplainWidget::~ResponseVExplainWidget()
{
    delete ui;
}

QTreeWidget* ResponseVExplainWidget::tree() const
{
    return ui->treeWidget;
}

void ResponseVExplainWidget::addItems(const QJsonValue& value, QTreeWidgetItem* parent)
{
    auto add = [parent, this](const QString& name, const QJsonValue& member) {
        auto* item = new QTreeWidgetItem(parent);
        if (isBranch(member)) {
            item->setText(0, name);
            addItems(member, item);
        } else {
            item->setText(0, name + QStringLiteral(": ") + scalarText(member));
        }
    };
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            add(it.key(), it.value());
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i)
            add(QString::number(i + 1), array.at(i));
    }
}

QString ResponseVExplainWidget::scalarText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::floor(d))
            return QString::number(d, 'f', 0);
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Null:
        return QStringLiteral("null");
    default:
        return QString(); // an empty object or array
    }
}
