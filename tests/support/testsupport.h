#pragma once
// Helpers shared by the engine tests: where the shared corpus is, files as bytes, and the
// independent Python tools (xlwt makes workbooks, xlrd and a checker of our own read what
// we wrote: tests/support/xls_oracle.py).

#include "sheettable.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace testsupport {

// The folder with real workbooks from other writers; empty when this checkout has none.
inline QString corpusDir()
{
    const QDir dir(QStringLiteral(ORBELANT_SHARED_DIR "/xls-corpus"));
    return dir.exists() ? dir.absolutePath() : QString();
}

inline QString sourceDir() { return QStringLiteral(ORBELANT_SOURCE_DIR); }

struct ProcessResult {
    int exitCode = -1;
    QByteArray out, err;
};

inline ProcessResult run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// xls_oracle.py with Debian's Python, which has xlrd and xlwt.
inline ProcessResult oracle(const QStringList &arguments, const QByteArray &input = {})
{
    return run(QStringLiteral("/usr/bin/python3"), QStringList{sourceDir() + QStringLiteral("/tests/support/xls_oracle.py")} + arguments, input);
}

// Workbooks written by xlwt: {"OUT.xls": {"sheets": [...], "blocks": bool}, ...}.
inline bool makeWorkbooks(const QJsonObject &byPath) { return oracle({QStringLiteral("make")}, QJsonDocument(byPath).toJson()).exitCode == 0; }

// What the independent reader and checker see in each file, by path.
inline QJsonObject oracleReport(const QStringList &paths)
{
    const auto report = oracle(QStringList{QStringLiteral("report")} + paths);
    if (report.exitCode != 0)
        qWarning("xls_oracle.py: %s", report.err.constData());
    return QJsonDocument::fromJson(report.out).object();
}

// A table in the line format of `orbelant-xls dump` and of xls_oracle.py's tables.
inline QString tableText(const orbelant::SheetTable &table)
{
    QStringList lines;
    for (qsizetype record = -1; record < table.recordCount(); ++record) {
        QStringList fields;
        for (qsizetype column = 0; column < table.columnCount(); ++column)
            fields.append(QString(record < 0 ? table.columns[column] : table.text(record, column)).replace(u'\\', QLatin1String("\\\\"))
                              .replace(u'\t', QLatin1String("\\t")).replace(u'\n', QLatin1String("\\n")).replace(u'\r', QLatin1String("\\r")));
        lines.append(fields.join(u'\t'));
    }
    return lines.join(u'\n') + u'\n';
}

} // namespace testsupport
