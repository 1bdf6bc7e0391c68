// Renders the editor, the duration graph and the list cells with sample data into PNG files
// (gallery/ in the build tree, or the folder given as the first argument) for
// a person to look at. Fails when a picture cannot be written or comes out a
// single flat colour.
#include "CodeEditor.h"
#include "Plotter.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"

#include <QtWidgets>
#include <cmath>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                 : qEnvironmentVariable("QUARVEL_BINARY_DIR", ".") + "/gallery";
    QDir().mkpath(dir);
    StyleEngine theme;
    WidgetEnv::setStyleEngine(&theme);
    int failures = 0;
    const auto save = [&](QWidget* w, const char* name, int width, int height) {
        w->resize(width, height);
        w->show();
        QCoreApplication::processEvents();
        const QImage image = w->grab().toImage();
        const bool flat = image.isNull() || image.convertToFormat(QImage::Format_Indexed8).colorCount() < 2;
        failures += flat || !image.save(dir + '/' + name + ".png");
        qInfo("%s/%s.png%s", qPrintable(dir), name, flat ? " flat" : "");
    };

    CodeEditor editor;
    editor.setPlainText("-- monthly totals\nSELECT c.name, COUNT(*) AS orders, SUM(o.amount) AS total\nFROM customers c\n"
                        "\tJOIN orders o ON o.customer_id = c.id /* keep\n   this */\nWHERE o.note <> 'a\\\\b' LIMIT 10;");
    save(&editor, "code_editor", 620, 160);

    Plotter plotter;
    for (int i = 0; i < 70; ++i)
        plotter.addPoint(20 + 15 * std::sin(i / 5.0) + (i % 17 == 0 ? 40 : 0));
    plotter.setDrawLinePosition(17);
    save(&plotter, "plotter", 560, 160);

    // Bars in column 1, data colours in column 2.
    const char* rows[3][3] = {{"SELECT id FROM users WHERE id = 42 -- by id", "100", "(null)"},
                              {"UPDATE t SET a = 'x' WHERE b < 3", "200", "Sending data"},
                              {"INSERT INTO log VALUES (1, 'a'), (2, 'b'), (3, 'c')", "300", "a long value that does not fit"}};
    QStandardItemModel model(3, 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            model.setItem(r, c, new QStandardItem(c == 0 ? TextHelpers::toHighlightText(rows[r][c]) : rows[r][c]));
    QTableView table;
    table.setModel(&model);
    auto* cells = new TableButtonDelegate(&table, true);
    cells->barColumn = 1;
    cells->barFullScale = 300;
    cells->nullColoring = true;
    cells->upperCaseColumn = 2;
    table.setItemDelegate(cells);
    table.setItemDelegateForColumn(0, new TableQueryDelegate(CodeEditor::_css, &table));
    table.setColumnWidth(0, 300);
    save(&table, "list_delegates", 560, 130);
    return failures == 0 ? 0 : 1;
}
