// orbelant-xls: the workbook engine from the command line, for the people who look after
// the time-scale workbook, for tests and for benchmarks.
//
//   orbelant-xls dump WORKBOOK [SHEET]
//   orbelant-xls find WORKBOOK SHEET CRITERION
//   orbelant-xls set WORKBOOK SHEET RECORD COLUMN TEXT
//   orbelant-xls chart WORKBOOK SHEET FILE.pdf|svg|png
//
// Exit status: 0 success, 1 `find` found nothing, 2 any error (message on standard error).

#include "filter/criterion.h"
#include "workbook.h"
#include "writeback.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>

#ifdef ORBELANT_XLS_CHART
#include "chartexport.h"
#include "chartlayout.h"

#include <QGuiApplication>
#endif

using namespace orbelant;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitNotFound = 1;
constexpr int ExitError = 2;

const QString DefaultSheet = QStringLiteral("Лист1");

void print(QFile &stream, const QString &text)
{
    stream.write(text.toUtf8());
}

int failWith(const QString &message)
{
    QFile err;
    if (err.open(stderr, QIODevice::WriteOnly))
        print(err, message + QLatin1Char('\n'));
    return ExitError;
}

int usage()
{
    QString text = QStringLiteral(
        "Использование:\n"
        "  orbelant-xls dump КНИГА [ЛИСТ]\n"
        "  orbelant-xls find КНИГА ЛИСТ УСЛОВИЕ\n"
        "  orbelant-xls set КНИГА ЛИСТ НОМЕР_ЗАПИСИ СТОЛБЕЦ ТЕКСТ");
#ifdef ORBELANT_XLS_CHART
    text += QStringLiteral("\n  orbelant-xls chart КНИГА ЛИСТ ФАЙЛ.pdf|svg|png");
#endif
    return failWith(text);
}

// Tabs and line breaks inside values would break the line format: escape them.
QString escaped(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

int dump(const QString &path, const QString &sheet)
{
    const auto table = readSheet(path, sheet);
    if (!table)
        return failWith(table.error().message);
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return ExitError;
    QStringList fields;
    for (const QString &name : table->columns)
        fields.append(escaped(name));
    print(out, fields.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    for (qsizetype record = 0; record < table->recordCount(); ++record) {
        fields.clear();
        for (qsizetype column = 0; column < table->columnCount(); ++column)
            fields.append(escaped(table->text(record, column)));
        print(out, fields.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    }
    return out.flush() ? ExitOk : ExitError;
}

int find(const QString &path, const QString &sheet, const QString &criterion)
{
    const auto table = readSheet(path, sheet);
    if (!table)
        return failWith(table.error().message);
    const auto found = findFirst(*table, criterion);
    if (!found)
        return failWith(found.error().message);
    if (!*found)
        return ExitNotFound;
    std::printf("%lld\n", static_cast<long long>(**found + 1));
    return ExitOk;
}

int set(const QString &path, const QString &sheet, const QString &recordText, const QString &columnName, const QString &text)
{
    const auto table = readSheet(path, sheet);
    if (!table)
        return failWith(table.error().message);
    bool isNumber = false;
    const qsizetype record = recordText.toLongLong(&isNumber) - 1;
    if (!isNumber || record < 0 || record >= table->recordCount())
        return failWith(Error::make(ErrorCode::NoSuchRecord, recordText).message);
    const qsizetype column = table->columnIndex(columnName);
    if (column < 0)
        return failWith(Error::make(ErrorCode::UnknownColumn, columnName).message);
    const auto stored = storeRecord(path, *table, record, {CellEdit{column, text}});
    if (!stored)
        return failWith(stored.error().message);
    return ExitOk;
}

#ifdef ORBELANT_XLS_CHART
// The chart window's picture of the sheet, written to a file; the workbook is only read.
int chart(int argc, char *argv[])
{
#ifdef ORBELANT_HEADLESS_PLATFORM
    // Drawn without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", ORBELANT_HEADLESS_PLATFORM);
#endif
    // Qt's own notes (in English, about the session) are not for the user: failures are told below.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 4)
        return usage();
    const auto table = readSheet(args[1], args[2]);
    if (!table)
        return failWith(table.error().message);
    const auto written = exportChart(ChartLayout(*table), args[3]);
    return written ? ExitOk : failWith(written.error());
}
#endif

// The arguments as given: Qt's decoding drops a byte order mark at the start of one,
// which a text to be stored may well hold.
QStringList argumentsAsGiven(const QCoreApplication &app, int argc, char *argv[])
{
    QStringList args = app.arguments();
    for (int i = 1; i < argc && i < args.size(); ++i)
        if (QByteArrayView(argv[i]).startsWith("\xEF\xBB\xBF") && !args[i].startsWith(QChar(0xFEFF)))
            args[i].prepend(QChar(0xFEFF));
    return args.mid(1);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef ORBELANT_XLS_CHART
    if (argc > 1 && QByteArrayView(argv[1]) == "chart")
        return chart(argc, argv);
#endif
    QCoreApplication app(argc, argv);
    const QStringList args = argumentsAsGiven(app, argc, argv);
    if (args.size() >= 2 && args.size() <= 3 && args[0] == QLatin1String("dump"))
        return dump(args[1], args.value(2, DefaultSheet));
    if (args.size() == 4 && args[0] == QLatin1String("find"))
        return find(args[1], args[2], args[3]);
    if (args.size() == 6 && args[0] == QLatin1String("set"))
        return set(args[1], args[2], args[3], args[4], args[5]);
    return usage();
}
