#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

/// The update service as the program sees it: where it is, what it is asked
/// and how its answer reads. No network and no widgets (the main window sends
/// the request and shows the result). Any thread.
namespace UpdateCheck {

/// Name of the environment variable that overrides the build's address.
inline const char* const kEnvironmentVariable = "QUARVEL_UPDATE_URL";

/// Base address of the update service: the environment variable when it is
/// set (an empty value switches the service off), else the address chosen when
/// the program was built. Empty when there is none or when it is not an http
/// or https address.
QUrl endpoint();

/// The request for `base`: path <base path>/version/linux/, query
/// ver=<version>&lang=<language>&bit=<bits>, values percent-encoded.
QUrl requestUrl(const QUrl& base, const QString& version, const QString& language, int bits);

/// True for an http or https address with a host: the only kind of link the
/// program ever opens.
bool isWebLink(const QUrl& url);

/// One answer of the service.
struct Answer
{
    /// A JSON object with a non-empty "version", a "need_update" and a
    /// "link" that is a web link.
    bool usable = false;
    QString version;
    /// "need_update" is "yes".
    bool needUpdate = false;
    QUrl link;
};

/// Reads a reply body; anything else than the object above is unusable.
Answer readReply(const QByteArray& body);

} // namespace UpdateCheck
