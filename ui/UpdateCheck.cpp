#include "UpdateCheck.h"

#include "BuildInfo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace UpdateCheck {

QUrl endpoint()
{
    const QString text = qEnvironmentVariableIsSet(kEnvironmentVariable)
                             ? qEnvironmentVariable(kEnvironmentVariable)
                             : QStringLiteral(QUARVEL_UPDATE_URL);
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return isWebLink(url) ? url : QUrl();
}

QUrl requestUrl(const QUrl& base, const QString& version, const QString& language, int bits)
{
    QUrl url = base;
    QString path = base.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/version/linux/"));
    // Every value is encoded whole, so that '&', '+', '=' or '#' in a
    // language name cannot change the query's meaning.
    const QByteArray query = "ver=" + QUrl::toPercentEncoding(version)
                             + "&lang=" + QUrl::toPercentEncoding(language)
                             + "&bit=" + QByteArray::number(bits);
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    url.setFragment(QString());
    return url;
}

bool isWebLink(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}

Answer readReply(const QByteArray& body)
{
    Answer answer;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return answer;
    const QJsonObject object = doc.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue need = object.value(QLatin1String("need_update"));
    const QJsonValue link = object.value(QLatin1String("link"));
    for (const QJsonValue& v : {version, need, link})
        if (v.isUndefined() || v.isNull())
            return answer;
    answer.version = version.toVariant().toString();
    answer.needUpdate = need.toString() == QLatin1String("yes");
    answer.link = QUrl(link.toString(), QUrl::StrictMode);
    answer.usable = !answer.version.isEmpty() && isWebLink(answer.link);
    return answer;
}

} // namespace UpdateCheck
