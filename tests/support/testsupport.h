#pragma once
// Helpers shared by the tests: where the shared corpus is, and running the independent
// Python tools (xlwt to make workbooks, xlrd to read what we wrote).

#include <QByteArray>
#include <QDir>
#include <QFile>
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

} // namespace testsupport
