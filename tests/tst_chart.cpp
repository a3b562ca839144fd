// The chart: the sheet cut into runs in the chart's colours, the sample's every unit found by
// name, the files and pages it is drawn into, and the window in step with the main window.

#include "chartdrawing.h"
#include "chartexport.h"
#include "chartview.h"
#include "datacontrol.h"
#include "fakeplatform.h"
#include "form1.h"
#include "frmchart.h"
#include "numbertext.h"
#include "shell.h"
#include "svgpicture.h"
#include "workbook.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QXmlStreamReader>

using namespace testsupport;

namespace {

QStringList row(const QString &age, const QString &eon, const QString &era, const QString &system,
                const QString &series = {}, const QString &stage = {}, const QString &note = {})
{
    return {age, eon, era, system, series, stage, note};
}

// The runs of the column titled `title`: "first+count name #RRGGBB", "-" for a blank, no colour
// where none was found.
QString runsOf(const ChartLayout &layout, const QString &title)
{
    QStringList runs;
    for (const ChartColumn &column : layout.columns()) {
        for (const ChartRun &run : column.runs) {
            if (column.title == title) {
                runs << QStringLiteral("%1+%2 %3%4").arg(run.first).arg(run.count).arg(
                    run.text.isEmpty() ? QStringLiteral("-") : run.text,
                    run.fill.isValid() ? QLatin1Char(' ') + run.fill.name().toUpper() : QString());
            }
        }
    }
    return runs.join(QStringLiteral(" | "));
}

int columnTitled(const ChartLayout &layout, const QString &title)
{
    for (int column = 0; column < layout.columnCount(); ++column) {
        if (layout.columns()[column].title == title)
            return column;
    }
    return -1;
}

const QList<QStringList> mesozoic = {
    row("137,05", "Фанерозойская", "Мезозойская", "Меловая", "Нижний", "Валанжинский", "Первые цветковые."),
    row("143,1", "Фанерозойская", "Мезозойская", "Меловая", "Нижний", "Берриасский", QString(300, u'я') + " конец"),
    row("149,2", "Фанерозойская", "Мезозойская", "Юрская", "Верхний", "Титонский", "Археоптерикс."),
    row("154,8", "Фанерозойская", "Мезозойская", "Юрская", "Верхний", "Кимериджский", ""),
};

} // namespace

class TestChart : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<FakePlatform> m_platform;
    FakeSheetAccess m_sheets;
    std::unique_ptr<Shell> m_shell;

    // The main window on `rows`, on row `current`, and the chart opened from its menu.
    ChartView &openChart(const QList<QStringList> &rows, qsizetype current = 0)
    {
        m_sheets.sheet = makeTable(rows);
        m_shell->start();
        source().moveTo(current);
        m_shell->form1().findChild<QAction *>("chart")->trigger();
        return m_shell->chart().picChart();
    }
    DataControl &source() { return m_shell->form1().Data1(); }
    void click(ChartView &view, const QString &title, qsizetype row)
    {
        const int column = columnTitled(view.chart(), title);
        const QRect cell = view.chartGeometry().cellRect(column, row, 1, 0, view.chartGeometry().headerHeight());
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center() - QPoint(0, view.verticalScrollBar()->value()));
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_folder->path()));
        m_platform = std::make_unique<FakePlatform>();
        m_sheets = FakeSheetAccess();
        m_shell = std::make_unique<Shell>(m_platform->services(), m_sheets);
    }
    void cleanup() { m_shell.reset(); }

    // Runs of one unit under one parent, blanks left blank, colours by name in the spellings in
    // use, and by time for a name the chart does not know.
    void runsAndColours_data()
    {
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("runs");

        QTest::newRow("one eonothem over rows") << mesozoic << "Эонотема" << "0+4 Фанерозойская #9AD9DD";
        QTest::newRow("series by its system") << mesozoic << "Отдел" << "0+2 Нижний #8CCD57 | 2+2 Верхний #B3E3EE";
        QTest::newRow("one name, two parents, no time")
            << QList<QStringList>{row("?", "Фанерозойская", "Мезозойская", "Меловая", "Верхний"),
                                  row("?", "Фанерозойская", "Мезозойская", "Юрская", "Верхний")}
            << "Отдел" << "0+1 Верхний #A6D84A | 1+1 Верхний #B3E3EE";
        QTest::newRow("carboniferous series by time")
            << QList<QStringList>{row("303,7", "", "", "Каменноугольная", "Верхний"),
                                  row("307", "", "", "Каменноугольная", "Верхний"),
                                  row("315,2", "", "", "Каменноугольная", "Средний"),
                                  row("323,4", "", "", "Каменноугольная", "Нижний"),
                                  row("340", "", "", "Каменноугольная", "Верхний")}
            << "Отдел" << "0+2 Верхний #BFD0BA | 2+1 Средний #A6C7B7 | 3+1 Нижний #8CBEB4 | 4+1 Верхний #B3BE6C";
        QTest::newRow("precambrian blanks")
            << QList<QStringList>{row("2500", "Протерозойская", "Палеопротерозойская", "Сидерская"),
                                  row("2800", "Архейская", "Неоархейская", ""), row("4567", "Хадейская", "", "")}
            << "Система" << "0+1 Сидерская #F74F7C | 1+1 - | 2+1 -";
        QTest::newRow("blanks around a name")
            << QList<QStringList>{row("150", "", "", "Юрская"), row("160", "", "", " Юрская "), row("170", "", "", "Юрская")}
            << "Система" << "0+3 Юрская #34B2C9";
        QTest::newRow("other spellings")
            << QList<QStringList>{row("250", "ФАНЕРОЗОЙ", "мезозой", "Триасовый период", "Нижний отдел", "Оленёкский ярус")}
            << "Ярус" << "0+1 Оленёкский ярус #B051A5";
        QTest::newRow("nouns and periods")
            << QList<QStringList>{row("250", "ФАНЕРОЗОЙ", "мезозой", "Триасовый  период")} << "Система"
            << "0+1 Триасовый  период #812B92";
        QTest::newRow("variant") << QList<QStringList>{row("264", "", "", "", "", "Кэпитенский")} << "Ярус"
                                 << "0+1 Кэпитенский #FB9A85";
        QTest::newRow("unknown name by time")
            << QList<QStringList>{row("145", "", "", "Меловая"), row("160", "", "", "Своя"), row("170", "", "", "Своя")}
            << "Система" << "0+1 Меловая #7FC64E | 1+2 Своя #34B2C9";
        QTest::newRow("unknown name, no time") << QList<QStringList>{row("много", "", "", "Своя")} << "Система"
                                               << "0+1 Своя";
        QTest::newRow("unknown name before the chart")
            << QList<QStringList>{row("4570", "Хадейская", "", ""), row("4600", "Своя", "", "")} << "Эонотема"
            << "0+1 Хадейская #AE027E | 1+1 Своя";
        QTest::newRow("ages as the sheet shows them")
            << QList<QStringList>{row("251,902", "", "", ""), row("много", "", "", ""), row("", "", "", "")}
            << "млн. лет" << "0+1 251,902 | 1+1 много | 2+1 -";
    }
    void runsAndColours()
    {
        QFETCH(QList<QStringList>, rows);
        QFETCH(QString, title);
        QFETCH(QString, runs);
        QCOMPARE(runsOf(ChartLayout(makeTable(rows)), title), runs);
    }

    void onlyTheColumnsThereAre()
    {
        const ChartLayout layout(makeTable({{"Юрская", "201,4"}, {"Юрская", "x"}}, {"Система", "Возраст"}));
        QStringList titles;
        for (const ChartColumn &column : layout.columns())
            titles << column.title;
        QCOMPARE(titles, QStringList({"Система", "млн. лет"}));
        QCOMPARE(runsOf(layout, "Система"), "0+2 Юрская #34B2C9");
    }

    void textReadsOnItsFill_data()
    {
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("text");
        QTest::newRow("Hadean") << QColor(0xAE027E) << QColor(Qt::white);
        QTest::newRow("Triassic") << QColor(0x812B92) << QColor(Qt::white);
        QTest::newRow("Ordovician") << QColor(0x009270) << QColor(Qt::black);
        QTest::newRow("Miocene") << QColor(0xFFFF00) << QColor(Qt::black);
        QTest::newRow("Cretaceous") << QColor(0x7FC64E) << QColor(Qt::black);
        QTest::newRow("mid grey") << QColor(0x777777) << QColor(Qt::black);
        QTest::newRow("darker grey") << QColor(0x737373) << QColor(Qt::white);
    }
    void textReadsOnItsFill()
    {
        QFETCH(QColor, fill);
        QFETCH(QColor, text);
        QCOMPARE(textColourOn(fill), text);
    }

    // The name, the rank with the bounds, the start of the row's note.
    void hoverText()
    {
        const ChartLayout layout(makeTable(mesozoic));
        const int system = columnTitled(layout, "Система");
        QCOMPARE(layout.hoverText(system, 3), "Юрская\nСистема, 154,8–143,1 млн. лет назад");
        QCOMPARE(layout.hoverText(system, 2), "Юрская\nСистема, 154,8–143,1 млн. лет назад\n"
                                              "Органический мир: Археоптерикс.");
        QCOMPARE(layout.hoverText(columnTitled(layout, "Ярус"), 1),
                 "Берриасский\nЯрус, 143,1–137,05 млн. лет назад\nОрганический мир: " + QString(300, u'я').left(200) + "…");
        QCOMPARE(layout.hoverText(columnTitled(layout, "млн. лет"), 0),
                 "137,05\nВозраст, 137,05–0 млн. лет назад\nОрганический мир: Первые цветковые.");
        QCOMPARE(ChartLayout(makeTable({row("1", "", "", "")})).hoverText(system, 0), QString());
        const QString note(200, u'я'); // as long as the start shown
        QCOMPARE(ChartLayout(makeTable({row("1", "", "", "Своя", "", "", note)})).hoverText(system, 0),
                 "Своя\nСистема, 1–0 млн. лет назад\nОрганический мир: " + note);
    }

    // Every unit of the sample workbook is known by its name; the carboniferous series, named
    // alike in both subsystems, take their colours by time.
    void sampleUnitsByName()
    {
        const auto table = readSheet(QStringLiteral(ORBELANT_SOURCE_DIR "/sample/зендра.xls"), QStringLiteral("Лист1"));
        QVERIFY(table.has_value());
        const ChartLayout layout(*table);
        int units = 0;
        QStringList carboniferous;
        for (int column = 0; column + 1 < layout.columnCount(); ++column) {
            const ChartColumn &ranked = layout.columns()[column];
            for (const ChartRun &run : ranked.runs) {
                const QString parent = column > 0 ? layout.run(column - 1, run.first).text : QString();
                const bool known = ChartPalette::chart().find(*ranked.rank, run.text, parent, std::nullopt);
                QVERIFY2(run.text.isEmpty() || (known && run.fill.isValid()), qPrintable(run.text));
                units += known;
                if (parent == "Каменноугольная" && run.text == "Верхний")
                    carboniferous << run.fill.name().toUpper();
            }
        }
        qInfo("%d units of the sample, each found by its name", units);
        QCOMPARE(units, 4 + 10 + 22 + 38 + 102); // eonothems, erathems, systems, series, stages
        QCOMPARE(carboniferous, QStringList({"#BFD0BA", "#B3BE6C"}));
    }

    // PDF with its text on pages, SVG that is XML, PNG with the units' colours; an extension of
    // none of these, a folder that is not there and a picture too large are told, nothing written.
    void files_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("error");
        QTest::newRow("pdf") << "шкала.pdf" << 2 << "";
        QTest::newRow("svg") << "шкала.svg" << 2 << "";
        QTest::newRow("png") << "шкала.PNG" << 2 << "";
        QTest::newRow("other") << "шкала.xls" << 2
                               << "Не удалось сохранить шкалу в файл «шкала.xls»: имя файла должно оканчиваться на "
                                  ".pdf, .svg или .png.";
        QTest::newRow("no folder") << "нет/шкала.pdf" << 2 << "Не удалось создать файл «%1»: ";
        QTest::newRow("png too large") << "шкала.png" << 12000
                                       << "Шкала слишком велика для рисунка PNG (%2 точек). Сохраните её в PDF или SVG.";
    }
    void files()
    {
        QFETCH(QString, name);
        QFETCH(int, rows);
        QFETCH(QString, error);
        QList<QStringList> sheet;
        for (int number = 0; number < rows; ++number)
            sheet << row(QString::number(150 + number), "Фанерозойская", "Мезозойская", "Юрская", "", "Титонский");
        const ChartLayout layout(makeTable(sheet));
        const ChartGeometry geometry(layout, ChartGeometry::chartFont());
        const QString path = m_folder->filePath(name);

        const auto written = exportChart(layout, path);
        if (!error.isEmpty()) {
            const QString size = QStringLiteral("%1 × %2").arg(formatCount(geometry.width()), formatCount(geometry.height(rows)));
            QVERIFY(!written);
            error.replace("%1", QDir::toNativeSeparators(path)).replace("%2", size);
            QVERIFY2(written.error().startsWith(error), qPrintable(written.error()));
            QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList());
            return;
        }
        QVERIFY2(written, qPrintable(written.error()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (name.endsWith(".pdf")) {
            QVERIFY(bytes.startsWith("%PDF-"));
            QProcess render; // the chart's left line 10 mm (28 points) in, seen at a point a pixel
            render.start("pdftoppm", {"-r", "72", "-singlefile", "-png", path, m_folder->filePath("page")});
            if (!render.waitForFinished() || render.exitCode() != 0)
                QSKIP("pdftoppm is missing (Debian: poppler-utils)");
            const QImage page(m_folder->filePath("page.png"));
            int left = 0;
            while (left < page.width() && qGray(page.pixel(left, 40)) > 128)
                ++left;
            QCOMPARE(left, 28);
        } else if (name.endsWith(".svg")) {
            QXmlStreamReader xml(bytes);
            QStringList texts;
            while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
                if (xml.isStartElement() && xml.name() == QLatin1String("text")) { // "*" before a bold one
                    const QString bold = xml.attributes().hasAttribute("font-weight") ? "*" : "";
                    texts << bold + xml.readElementText();
                }
            }
            QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
            QCOMPARE(texts.mid(0, 4), QStringList({"Фанерозойская", "Мезозойская", "Юрская", "Титонский"}));
            QCOMPARE(texts.last(), "*млн. лет");
        } else {
            const QImage picture = QImage::fromData(bytes, "PNG");
            QCOMPARE(picture.size(), QSize(geometry.width(), geometry.height(rows)));
            const QRect stage = geometry.cellRect(columnTitled(layout, "Ярус"), 1, 1, 0, geometry.headerHeight());
            QCOMPARE(picture.pixelColor(stage.left() + 1, stage.top() + 2), QColor(0xD9F1F7));
            const QRect age = geometry.cellRect(columnTitled(layout, "млн. лет"), 1, 1, 0, geometry.headerHeight());
            for (int x = age.left() + 1; x < age.right(); ++x) { // lines of one pixel, the age between them
                QCOMPARE(picture.pixelColor(x, age.top() + 1), QColor(Qt::white));
                QCOMPARE(picture.pixelColor(x, age.bottom()), QColor(Qt::white));
            }
            QCOMPARE(picture.pixelColor(stage.topLeft()), QColor(Qt::black));
            QCOMPARE(picture.pixelColor(picture.width() - 1, picture.height() - 1), QColor(Qt::black)); // closing lines
        }
    }

    // Pages as wide as the chart and two and a half rows high below the header hold two rows each.
    void pages_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pages");
        QTest::newRow("none") << 0 << 1;
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("two") << 2 << 1;
        QTest::newRow("five") << 5 << 3;
    }
    void pages()
    {
        QFETCH(int, rows);
        QFETCH(int, pages);
        QList<QStringList> sheet;
        for (int number = 0; number < rows; ++number)
            sheet << row(QString::number(number + 1), "Фанерозойская", "", "");
        const ChartLayout layout(makeTable(sheet));
        const ChartGeometry geometry(layout, ChartGeometry::chartFont());
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setResolution(72); // a point a pixel
        pdf.setPageMargins({});
        const qreal height = geometry.headerHeight() + 2.5 * geometry.rowHeight();
        pdf.setPageSize(QPageSize(QSizeF(geometry.width(), height), QPageSize::Point));
        QPainter painter(&pdf);
        QCOMPARE(drawPages(painter, pdf, layout, geometry), pages);
        painter.end();
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {"-", "-"});
        pdftotext.write(buffer.data());
        pdftotext.closeWriteChannel();
        if (!pdftotext.waitForFinished())
            QSKIP("pdftotext is missing (Debian: poppler-utils)");
        const QList<QByteArray> lines = pdftotext.readAllStandardOutput().split('\n');
        for (int number = 1; number <= rows; ++number) // every row on one page
            QCOMPARE(lines.count(QByteArray::number(number)), 1);
    }

    // Opened from the main window's menu, once; the mark follows the main window; a click or
    // Enter on a cell makes its unit's first row current there, after storing the typing; a
    // store the workbook refuses leaves both as they were.
    void inStepWithTheMainWindow()
    {
        ChartView &view = openChart(mesozoic);
        m_shell->form1().findChild<QAction *>("chart")->trigger();
        QCOMPARE(m_shell->openWindowCount(), 2);
        QVERIFY(m_shell->chart().isVisible());
        QCOMPARE(m_shell->chart().windowTitle(), "Геохронологическая шкала");
        QCOMPARE(view.currentRow(), 0);
        QCOMPARE(view.horizontalScrollBar()->maximum(), 0); // the window as wide as the chart
        // The mark's fill, down to the row's last pixel, on the white ages: "*---" for row 0.
        const auto marks = [&view] {
            const QImage image = view.viewport()->grab().toImage();
            QString marked;
            for (qsizetype row = 0; row < view.chart().rowCount(); ++row) {
                const QRect age = view.runRect(columnTitled(view.chart(), "млн. лет"), row);
                marked += image.pixelColor(age.left() + 3, age.bottom()) != Qt::white ? u'*' : u'-';
            }
            return marked;
        };
        QCOMPARE(marks(), "*---");
        const QPoint phanerozoic = view.runRect(0, 1).center();
        QHelpEvent hover(QEvent::ToolTip, phanerozoic, view.viewport()->mapToGlobal(phanerozoic));
        QCoreApplication::sendEvent(view.viewport(), &hover);
        QCOMPARE(QToolTip::text(), view.chart().hoverText(0, 1));
        source().MoveLast();
        QCOMPARE(view.currentRow(), 3);
        QCOMPARE(marks(), "---*");
        source().Refresh();
        QCOMPARE(view.currentRow(), 0);

        click(view, "Ярус", 2);
        QCOMPARE(source().currentRecord(), 2);
        click(view, "Отдел", 3);
        QCOMPARE(source().currentRecord(), 2);
        click(view, "Эонотема", 3);
        QCOMPARE(source().currentRecord(), 0);
        const QRect stage2 = view.runRect(columnTitled(view.chart(), "Ярус"), 2);
        QTest::mouseClick(view.viewport(), Qt::RightButton, {}, stage2.center());
        QCOMPARE(source().currentRecord(), 0); // the right button chooses nothing
        click(view, "Ярус", 2);

        QLineEdit *stage = m_shell->form1().findChild<QLineEdit *>("Text6");
        QTest::keyClick(stage, Qt::Key_End);
        typeText(stage, "ский");
        m_sheets.storeError = Error::make(ErrorCode::WriteFailed, QStringLiteral("зендра.xls"));
        click(view, "Ярус", 0);
        QCOMPARE(source().currentRecord(), 2);
        QCOMPARE(view.currentRow(), 2);
        QCOMPARE(m_platform->messages.boxes.size(), 1u);
        m_sheets.storeError.reset();
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return})
            QTest::keyClick(&view, key);
        QCOMPARE(source().currentRecord(), 3);
        QCOMPARE(view.chart().run(columnTitled(view.chart(), "Ярус"), 2).text, "Титонскийский");
        QCOMPARE(m_sheets.stores, QStringList({"2|5:Титонскийский", "2|5:Титонскийский"}));
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Return})
            QTest::keyClick(&view, key);
        QCOMPARE(source().currentRecord(), 0);
        QCOMPARE(view.focusCell().row, 0); // the focus follows the current row
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Right})
            QTest::keyClick(&view, key);
        QCOMPARE(view.focusCell().column, 1);
        for (const auto &[key, row] : {std::pair{Qt::Key_End, 3}, {Qt::Key_Home, 0}, {Qt::Key_PageDown, 3}, {Qt::Key_PageUp, 0}}) {
            QTest::keyClick(&view, key);
            QCOMPARE(view.focusCell().row, row);
        }
    }

    // The main window closed, the chart stays as it was, and a click does nothing.
    void outlivesTheMainWindow()
    {
        ChartView &view = openChart(mesozoic);
        QVERIFY(m_shell->form1().close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!m_shell->form1Exists() && m_shell->chartExists());
        click(view, "Ярус", 2);
        QCOMPARE(view.chart().rowCount(), 4);
        QCOMPARE(m_shell->openWindowCount(), 1);
        m_shell->form1(); // a main window made again is followed
        QCOMPARE(view.currentRow(), 0);
        click(view, "Ярус", 2);
        QCOMPARE(m_shell->form1().Data1().currentRecord(), 2);
    }

    // The current row in the middle of the rows in sight, when the chart opens and when the row
    // changes; only the rows in sight are drawn.
    void paintsWhatIsInSight()
    {
        QList<QStringList> rows;
        for (int number = 0; number < 3000; ++number)
            rows << row(QString::number(number), "Фанерозойская", "", "");
        ChartView &view = openChart(rows, 2500);
        const int rowHeight = view.chartGeometry().rowHeight();
        for (const qsizetype current : {2500, 1000, 1500}) {
            if (current == 1500) // half in sight at the bottom, brought into the middle too
                view.verticalScrollBar()->setValue(1500 * rowHeight - view.viewport()->height() + rowHeight * 3 / 2);
            source().moveTo(current);
            const QRect mark = view.runRect(columnTitled(view.chart(), "млн. лет"), current);
            const int middle = (view.chartGeometry().headerHeight() + view.viewport()->height()) / 2;
            QVERIFY2(qAbs(mark.center().y() - middle) <= rowHeight, qPrintable(QString::number(current)));
            QCOMPARE(view.cellAt(mark.center()).row, current);
            QCOMPARE(view.cellAt(QPoint(view.chartGeometry().width() - 1, mark.center().y())).column, -1);
        }
        QVERIFY(QTest::qWaitForWindowActive(&m_shell->chart()));
        view.clearFocus();
        const QImage unfocused = view.viewport()->grab().toImage();
        view.setFocus();
        QVERIFY(view.viewport()->grab().toImage() != unfocused); // the focused cell is framed
        const int age = columnTitled(view.chart(), "млн. лет");
        click(view, "млн. лет", 1500);
        QTest::keyClick(&view, Qt::Key_PageDown); // to a row out of sight, brought just into it
        const QRect focus = view.runRect(age, view.focusCell().row);
        QVERIFY(focus.top() > view.viewport()->height() / 2 && focus.bottom() <= view.viewport()->height());
        view.resize(view.chartGeometry().width() / 2, 300);
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
        QCOMPARE(view.cellAt(view.runRect(age, view.focusCell().row).center()).column, age);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum()); // the last row at the bottom
        QCOMPARE(view.runRect(0, 2999).bottom() / rowHeight, (view.viewport()->height() - 1) / rowHeight);
        const int inSight = (view.viewport()->height() - view.chartGeometry().headerHeight()) / view.chartGeometry().rowHeight();
        view.viewport()->grab();
        QVERIFY(view.paintedRows() <= inSight + 2 && view.paintedRows() >= inSight);
    }

    // Each cell in the accessibility tree: its name, rank and bounds, selected on the current row.
    void accessibleCells()
    {
        ChartView &view = openChart(mesozoic);
        source().MoveNext();
        QVERIFY(QTest::qWaitForWindowActive(&m_shell->chart()));
        view.setFocus();
        QAccessibleInterface *chart = QAccessible::queryAccessibleInterface(&view);
        QCOMPARE(chart->childCount(), 1 + 1 + 2 + 2 + 4 + 4);
        QStringList cells;
        for (int index = 0; index < chart->childCount(); ++index) {
            QAccessibleInterface *cell = chart->child(index);
            QCOMPARE(chart->indexOfChild(cell), index);
            cells << cell->text(QAccessible::Name) + (cell->state().selected ? "*" : "")
                         + (cell->state().focused ? "+" : "") + ": " + cell->text(QAccessible::Description);
        }
        QCOMPARE(cells[0], "Фанерозойская*+: эонотема, 154,8–0 млн. лет назад");
        QCOMPARE(cells.mid(2, 6), QStringList({"Меловая*: система, 143,1–0 млн. лет назад",
                                               "Юрская: система, 154,8–143,1 млн. лет назад",
                                               "Нижний*: отдел, 143,1–0 млн. лет назад",
                                               "Верхний: отдел, 154,8–143,1 млн. лет назад",
                                               "Валанжинский: ярус, 137,05–0 млн. лет назад",
                                               "Берриасский*: ярус, 143,1–137,05 млн. лет назад"}));
        for (const int index : {0, 8}) {
            const QPoint centre = chart->child(index)->rect().center();
            QCOMPARE(chart->childAt(centre.x(), centre.y()), chart->child(index));
        }
        QAccessibleInterface *stage = chart->child(8);
        stage->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(source().currentRecord(), 2);
        QAccessibleInterface *lastAge = chart->child(13);
        m_sheets.sheet = makeTable(mesozoic.mid(0, 3));
        source().Refresh();
        QVERIFY(!lastAge->isValid() && stage->isValid());
        QCOMPARE(view.cellAt(QPoint(5, view.runRect(0, 2).bottom() + 2)).column, -1); // below the last row
        click(view, "млн. лет", 0);
        m_sheets.sheet = makeTable({{"1", "Юрская"}}, {"Возраст", "Система"});
        source().Refresh();
        QCOMPARE(view.focusCell().column, 1); // the last column there is now
        m_sheets.sheet = makeTable({});
        source().Refresh();
        QVERIFY(view.currentRow() == -1 && chart->childCount() == 0 && view.focusCell().column == -1);
    }

    // The SVG picture takes lines and curves too, in their colours.
    void svgOfLinesAndCurves()
    {
        SvgPicture svg(QSize(10, 10), "x");
        QPainter painter(&svg);
        painter.setPen(Qt::red);
        painter.drawLine(0, 0, 9, 9);
        painter.setBrush(Qt::blue);
        painter.drawEllipse(QRectF(1, 1, 4, 4));
        painter.end();
        const QString document = QString::fromUtf8(svg.document());
        QVERIFY2(document.contains("<path d=\"M0 0 L9 9\" fill=\"none\" stroke=\"#ff0000\" stroke-width=\"1\"/>"),
                 qPrintable(document));
        QVERIFY2(document.contains(QRegularExpression("<path d=\"M5 3 C[^\"]*\" fill=\"#0000ff\" stroke=\"#ff0000\"")),
                 qPrintable(document));
    }

    // A chart wider than the screen opens in a window narrower than it; printed on the default
    // printer, as many pages as it takes.
    void printed()
    {
        const QString longName(60, u'я');
        openChart({row("1", longName, longName, longName, longName, longName)});
        QVERIFY(m_shell->chart().width() < m_shell->chart().screen()->availableGeometry().width());
        m_shell->chart().findChild<QAction *>("print")->trigger();
        QCOMPARE(m_platform->printer.printed, QStringList{"Геохронологическая шкала"});
        QCOMPARE(m_platform->printer.pdf.count("/Type /Page\n"), 1);
        m_shell->chart().saveTo(m_folder->filePath("шкала.svg"));
        QVERIFY(QFile::exists(m_folder->filePath("шкала.svg")));
        m_shell->chart().saveTo(m_folder->filePath("шкала"));
        QCOMPARE(m_platform->messages.boxes.size(), 1u);
    }
};

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
