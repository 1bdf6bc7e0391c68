#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

/// The texts the archive stores for numbers, times and ids, and how they are
/// read back. The formats are those of the session list, so that a saved
/// row reads like the row it was saved from. [thread-safe]
namespace ArchiveFormat {

/// "%1" filled to 7 digits with "0" (more digits when larger).
QString sessionId(quint64 id);
/// The number an id text stands for; 0 for a text that is none.
quint64 readSessionId(const QString& text);

/// Start time as "dd.MM.yy hh:mm".
QString startedAt(const QDateTime& when);
/// Two-digit years are 2000-2099; an invalid date for other texts.
QDateTime readStartedAt(const QString& text);

/// A session's lifetime as "hh:mm:ss.zzz"; empty while it runs (null time).
QString elapsed(const QTime& duration);
/// The time of a text "hh:mm:ss.zzz"; a null time for other texts.
QTime readElapsed(const QString& text);

/// `value` in `locale`, fixed notation, 3 decimals (group separators as
/// the locale writes them).
QString localeKb(double value, const QLocale& locale = QLocale::system());
/// A number written by localeKb() under any locale: read in `locale`
/// without group separators, else in the C locale, else taken as 3
/// decimals after the last separator with every other separator dropped.
/// 0 (and `ok` false) when it is no number at all.
double readLocaleKb(const QString& text, const QLocale& locale = QLocale::system(), bool* ok = nullptr);

/// Fixed notation, 3 decimals, C locale.
QString fixed3(double value);
/// 3 decimals when above 0, else "0".
QString positive3(double value);

} // namespace ArchiveFormat
