#include "ExportWriter.h"

#include "languageEngine.h"

#include <QDir>
#include <QMessageBox>
#include <QTextCodec>

ExportWriter::ExportWriter(const QString& path)
    : file(path)
{
}

bool ExportWriter::open(bool csv)
{
    if (file.fileName().isEmpty()) {
        error = QStringLiteral("No file name");
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
        return false;
    }
    stream.setDevice(&file);
    if (csv)
        stream.setCodec(QTextCodec::codecForLocale());
    else
        stream.setCodec("UTF-8");
    stream.setGenerateByteOrderMark(false);
    return true;
}

void ExportWriter::csvLine(const QStringList& values, bool escapeQuotes)
{
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0)
            stream << ';';
        stream << csvField(values.at(i), escapeQuotes);
    }
    stream << '\n';
}

bool ExportWriter::commit()
{
    stream.flush();
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

QString ExportWriter::csvField(const QString& value, bool escapeQuotes)
{
    QString out;
    out.reserve(value.size() + 2);
    out += QLatin1Char('"');
    if (escapeQuotes && value.contains(QLatin1Char('"')))
        out += QString(value).replace(QLatin1Char('"'), QLatin1String("\"\""));
    else
        out += value;
    out += QLatin1Char('"');
    return out;
}

QString ExportWriter::xmlText(const QString& value)
{
    // Most cells need nothing: hand them back shared.
    const int n = value.size();
    const QChar* s = value.constData();
    int first = 0;
    for (; first < n; ++first) {
        const ushort u = s[first].unicode();
        if (u < 0x20 || u == '&' || u == '<' || u == '>' || (u >= 0xD800 && u <= 0xDFFF) || u >= 0xFFFE)
            break;
    }
    if (first == n)
        return value;

    QString out;
    out.reserve(n + 16);
    out.append(s, first);
    for (int i = first; i < n; ++i) {
        const ushort u = s[i].unicode();
        switch (u) {
        case '&': out += QLatin1String("&amp;"); continue;
        case '<': out += QLatin1String("&lt;"); continue;
        case '>': out += QLatin1String("&gt;"); continue;
        case '\r': out += QLatin1String("&#13;"); continue;
        case '\t':
        case '\n': out += s[i]; continue;
        default: break;
        }
        if (u < 0x20) {
            out += QChar(ushort(0x2400 + u));
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1].unicode())) {
            out += s[i];
            out += s[++i];
        } else if (QChar::isSurrogate(u) || u >= 0xFFFE) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += s[i];
        }
    }
    return out;
}

namespace {

/// Letters every XML 1.0 parser takes in a name, old editions included:
/// ASCII letters and the accented Latin letters of U+00C0..U+017E.
bool nameLetter(ushort u)
{
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
        return true;
    if (u < 0xC0 || u > 0x17E || u == 0xD7 || u == 0xF7)
        return false;
    return !(u == 0x132 || u == 0x133 || u == 0x13F || u == 0x140 || u == 0x149);
}

bool nameChar(ushort u)
{
    return nameLetter(u) || (u >= '0' && u <= '9') || u == '_' || u == '-' || u == '.';
}

} // namespace

QString ExportWriter::xmlName(const QString& name)
{
    QString out = name;
    for (QChar& c : out)
        if (!nameChar(c.unicode()))
            c = QLatin1Char('_');
    if (out.isEmpty() || !(out.at(0) == QLatin1Char('_') || nameLetter(out.at(0).unicode())))
        out.prepend(QLatin1Char('_'));
    return out;
}

QString ExportWriter::xmlStartTag(const QString& name)
{
    const QString mapped = xmlName(name);
    if (mapped == name)
        return QLatin1Char('<') + mapped + QLatin1Char('>');
    QString attr = xmlText(name);
    attr.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    attr.replace(QLatin1Char('\t'), QLatin1String("&#9;"));
    attr.replace(QLatin1Char('\n'), QLatin1String("&#10;"));
    return QLatin1Char('<') + mapped + QLatin1String(" name=\"") + attr + QLatin1String("\">");
}

QString ExportWriter::xmlEndTag(const QString& name)
{
    return QLatin1String("</") + xmlName(name) + QLatin1Char('>');
}

void ExportWriter::showFailure(QWidget* parent, const QString& path, const QString& reason, languageEngine* lang)
{
    const QString title = lang ? lang->errors(QStringLiteral("error_str")) : QStringLiteral("Error");
    auto* box = new QMessageBox(QMessageBox::Warning, title, QDir::toNativeSeparators(path) + QLatin1Char('\n') + reason,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("exportErrorBox"));
    box->open();
}
