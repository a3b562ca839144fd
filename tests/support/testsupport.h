#pragma once
// Helpers shared by the tests: where the shared corpus is, and running the independent
// Python tools (xlwt to make workbooks, xlrd to read what we wrote).

#include "sheettable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// The folder with real workbooks from other writers; empty when this checkout has none.
inline QString corpusDir()
{
    const QString dir = QStringLiteral(ORBELANT_SHARED_DIR "/xls-corpus");
    return QDir(dir).exists() ? QDir(dir).absolutePath() : QString();
}

inline QString sourceDir() { return QStringLiteral(ORBELANT_SOURCE_DIR); }

// Debian's interpreter, which has python3-xlrd and python3-xlwt.
inline QString python() { return QStringLiteral("/usr/bin/python3"); }

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline ProcessResult run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForStarted(10000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Runs one of the scripts in tests/support/ with Debian's Python.
inline ProcessResult runScript(const QString &script, const QStringList &arguments, const QByteArray &input = {})
{
    return run(python(), QStringList{sourceDir() + QStringLiteral("/tests/support/") + script} + arguments, input);
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

// Workbooks written by xlwt: {"OUT.xls": {"sheets": [...], "blocks": bool}, ...} (see
// xls_oracle.py make).
inline bool makeWorkbooks(const QJsonObject &byPath)
{
    return runScript(QStringLiteral("xls_oracle.py"), {QStringLiteral("make")}, QJsonDocument(byPath).toJson()).exitCode == 0;
}

// What the independent reader and checker see in each file: xls_oracle.py report.
inline QJsonObject oracleReport(const QStringList &paths)
{
    const auto report = runScript(QStringLiteral("xls_oracle.py"), QStringList{QStringLiteral("report")} + paths);
    if (report.exitCode != 0)
        qWarning("xls_oracle.py: %s", report.err.constData());
    return QJsonDocument::fromJson(report.out).object();
}

// A table in the line format of `orbelant-xls dump` and of xls_oracle.py's tables.
inline QString tableText(const orbelant::SheetTable &table)
{
    const auto escaped = [](QString value) {
        return value.replace(u'\\', QLatin1String("\\\\")).replace(u'\t', QLatin1String("\\t"))
            .replace(u'\n', QLatin1String("\\n")).replace(u'\r', QLatin1String("\\r"));
    };
    QStringList lines, fields;
    for (const QString &name : table.columns)
        fields.append(escaped(name));
    lines.append(fields.join(u'\t'));
    for (qsizetype record = 0; record < table.recordCount(); ++record) {
        fields.clear();
        for (qsizetype column = 0; column < table.columnCount(); ++column)
            fields.append(escaped(table.text(record, column)));
        lines.append(fields.join(u'\t'));
    }
    return lines.join(u'\n') + u'\n';
}

} // namespace testsupport
