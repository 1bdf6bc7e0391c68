#pragma once

#include <QCache>
#include <QObject>
#include <QScriptValue>
#include <QString>
#include <QStringList>

class QScriptEngine;

/// highlight.js with its SQL grammar, loaded once into a script engine, and
/// the two forms the program shows statements in: the editor's paragraphs
/// and the one-line cell form. GUI thread only (the script engine is not
/// thread-safe).
class HighlightEngine : public QObject
{
    Q_OBJECT
public:
    /// Evaluates `program` (defaultScript()). An empty or broken program
    /// leaves the engine unloaded: every call then falls back to plain text.
    explicit HighlightEngine(const QString& program, QObject* parent = nullptr);
    ~HighlightEngine() override;

    /// The engine every editor shares, loaded from defaultScript() on first
    /// use and owned by the application object.
    static HighlightEngine* shared();
    /// The program `shared()` evaluates: the shims of the data folder
    /// (quarvelDataDir() + "/highlight/shims.js"), then the highlight.js core
    /// and its SQL language cut out of the system's browser bundle
    /// (bundlePath()). Empty when either is missing or the bundle is not
    /// laid out as expected.
    static QString defaultScript();
    /// The system's highlight.js browser bundle.
    static QString bundlePath();
    /// The core (a factory ending with "}));") and the SQL language (its
    /// hljs.registerLanguage('sql', ...) block up to a line "});") of a
    /// highlight.js browser bundle; empty when either is not found. The whole
    /// bundle does not parse in the script engine. [thread-safe]
    static QString cutBundle(const QString& bundle);

    bool isLoaded() const { return loaded; }
    QScriptEngine* scriptEngine() const { return engine; }

    /// hljs' HTML for `text` (SQL), spans with "hljs-" classes, text escaped
    /// for HTML. False, with `html` untouched, when the highlighter is not
    /// loaded or did not return a string.
    bool highlight(const QString& text, QString* html);
    /// The same for a script of several statements: cut after every ";" that
    /// ends a statement, each piece highlighted on its own and remembered, so
    /// an edit re-runs highlight.js only for the statement it touched.
    bool highlightScript(const QString& text, QString* html);
    /// Pieces of `text`, each ending after a ";" outside quotes and comments
    /// (the last one may not); joined they give `text` back. [thread-safe]
    static QStringList splitStatements(const QString& text);

    /// The one-line HTML of a statement for table cells: tabs as four spaces,
    /// line breaks as one space, double-dash comments removed. Without a
    /// highlighter, the same text escaped for HTML. Recent results are cached.
    QString oneLine(const QString& text);

    /// The editor's form of `text`: one paragraph per line, white space kept
    /// as non-breaking spaces, empty paragraphs that keep their height.
    /// False when the text could not be highlighted.
    bool paragraphs(const QString& text, QString* html);
    /// The same, one "<p>...</p>" per line of `text`.
    bool paragraphList(const QString& text, QStringList* lines);

    /// Tabs replaced by four spaces, as the highlighter sees the text.
    static QString expandTabs(const QString& text);
    /// Removes every "<span class="hljs-comment">--...</span>" (nested spans
    /// included) together with the white space around it, leaving one space.
    static QString removeLineComments(const QString& html);

    /// Number of one-line results kept (by total characters) and dropped.
    void setCacheLimit(int characters) { cache.setMaxCost(characters); }
    void clearCache() { cache.clear(); }

private:
    QScriptEngine* engine = nullptr;
    QScriptValue hljsObject;
    QScriptValue highlightFunction;
    bool loaded = false;
    QCache<QString, QString> cache;
    QCache<QString, QString> pieceCache;
};
