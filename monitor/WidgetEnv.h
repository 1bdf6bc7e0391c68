#pragma once

#include <QColor>
#include <QMap>
#include <QString>

class Settings;
class StyleEngine;
class languageEngine;

/// The shared objects the widgets of the program draw with: the theme, the
/// settings store and the language texts. The main window hands them in once at start-up; until then
/// (and in tests) every colour is its default and the status period is 3 s.
/// GUI thread only.
class WidgetEnv
{
public:
    using Table = QMap<QString, QString> StyleEngine::*;

    static void setStyleEngine(const StyleEngine* engine);
    static const StyleEngine* styleEngine();
    static void setSettings(const Settings* settings);
    static const Settings* settings();
    /// The language engine; null until the main window hands it in (widgets
    /// then keep the texts of their forms).
    static void setLanguage(languageEngine* engine);
    static languageEngine* language();

    /// Colour of `key` in `table` of the theme, or `def` when there is no
    /// theme, no such key or the text is not a colour.
    static QColor color(Table table, const QString& key, const QString& def);
    /// `StatusPeriod` of the current profile in seconds (3 without one).
    static int statusPeriod();
};
