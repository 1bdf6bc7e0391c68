// Prints the costs of highlighting statements (medians over many runs):
//   - the one-line cell form of a typical 100-character statement and of a
//     5 000-character one, uncached and from the cache of recent results;
//   - loading the highlighter, and constructing an editor once it is loaded;
//   - one keystroke's rehighlight in a 300-line script.
// Run: QT_QPA_PLATFORM=offscreen bench_highlight   (reads the staged data of
// the build tree unless QUARVEL_DATA_DIR is set).
#include "CodeEditor.h"
#include "HighlightEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMicros(int runs, const std::function<void(int)>& work)
{
    std::vector<double> times;
    times.reserve(runs);
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        work(i);
        times.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QString statementOf(int length, int variant)
{
    QString s = QStringLiteral("SELECT u.id, u.name, o.total FROM users u JOIN orders o ON o.user_id = u.id WHERE o.id = %1")
                    .arg(variant);
    while (s.size() < length)
        s += QStringLiteral(" OR (o.status = 'open' AND o.total > %1.5)").arg(s.size());
    return s.left(length);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QUARVEL_DATA_DIR"))
        qputenv("QUARVEL_DATA_DIR", QUARVEL_STAGED_DATA);
    QApplication app(argc, argv);

    QElapsedTimer timer;
    timer.start();
    HighlightEngine* shared = HighlightEngine::shared();
    const double loadMs = timer.nsecsElapsed() / 1e6;
    if (!shared->isLoaded()) {
        std::fprintf(stderr, "highlighter not loaded from %s\n", qPrintable(HighlightEngine::bundlePath()));
        return 1;
    }
    std::printf("load highlighter (read and cut the bundle, evaluate, first statement): %.2f ms\n", loadMs);

    const QString program = HighlightEngine::defaultScript();
    const double loadAgain = medianMicros(5, [&program](int) {
        HighlightEngine engine(program);
    });
    std::printf("load a separate highlighter (median of 5): %.2f ms\n", loadAgain / 1000);

    const double editorUs = medianMicros(50, [](int) { CodeEditor editor; });
    std::printf("construct CodeEditor (shared highlighter, median of 50): %.0f us\n", editorUs);

    for (int length : {100, 5000}) {
        const int runs = length > 1000 ? 200 : 2000;
        shared->clearCache();
        shared->setCacheLimit(0); // every call highlights
        const double fresh = medianMicros(runs, [&](int i) { shared->oneLine(statementOf(length, i)); });
        shared->setCacheLimit(4 * 1024 * 1024);
        const QString repeated = statementOf(length, 7);
        shared->oneLine(repeated);
        const double cached = medianMicros(runs, [&](int) { shared->oneLine(repeated); });
        std::printf("toHighlightText %5d chars: %8.1f us uncached, %6.2f us cached (median of %d)\n", length, fresh,
                    cached, runs);
    }

    // Typing at the end of a 300-line script.
    QString script;
    for (int i = 0; i < 300; ++i)
        script += QStringLiteral("SELECT a%1, b, 'text %1' FROM t%1 WHERE c = %1; -- line %1\n").arg(i);
    QString rawHtml;
    const double hljsUs = medianMicros(10, [&](int) { shared->highlight(script, &rawHtml); });
    QStringList lines;
    const double linesUs = medianMicros(10, [&](int) { shared->paragraphList(script, &lines); });
    std::printf("300-line script: highlight.js %.2f ms, paragraphs %.2f ms\n", hljsUs / 1000, linesUs / 1000);
    CodeEditor editor;
    editor.resize(800, 600);
    editor.show();
    editor.setPlainText(script);
    editor.moveCursor(QTextCursor::End);
    const double keyUs = medianMicros(30, [&](int i) { QTest::keyClick(&editor, char('a' + i % 26)); });
    std::printf("keystroke in a 300-line script (%d chars), rehighlight included: %.2f ms (median of 30)\n",
                script.size(), keyUs / 1000);
    editor.setEnabledHighlight(false);
    const double plainUs = medianMicros(30, [&](int i) { QTest::keyClick(&editor, char('a' + i % 26)); });
    std::printf("same keystroke with highlighting off: %.2f ms\n", plainUs / 1000);
    return 0;
}
