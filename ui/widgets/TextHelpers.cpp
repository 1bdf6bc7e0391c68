#include "TextHelpers.h"

#include "HighlightEngine.h"

#include <QRegularExpression>

QString TextHelpers::recQuery(QString text)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n][\r\n]*"));
    return text.replace(lineBreaks, QStringLiteral(" "));
}

QString TextHelpers::remRN(QString text)
{
    static const QRegularExpression blanks(QStringLiteral("[ \r\n][ \r\n]*"));
    return text.replace(blanks, QStringLiteral(" "));
}

QString TextHelpers::toTooltipStr(QString text)
{
    const int lineLength = 80;
    const int maxLines = 10;
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    if (text.startsWith(QLatin1Char('\n')))
        text.remove(0, 1);
    QString out;
    for (int line = 0; line < maxLines && line * lineLength < text.size(); ++line) {
        if (line > 0)
            out += QLatin1Char('\n');
        out += text.midRef(line * lineLength, lineLength);
    }
    if (text.size() > maxLines * lineLength)
        out += QLatin1String("[...]");
    return out;
}

QString TextHelpers::toHighlightText(QString text)
{
    return HighlightEngine::shared()->oneLine(text);
}
