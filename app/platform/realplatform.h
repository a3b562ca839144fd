#pragma once
// The real implementations of the platform services, for app/main.cpp.

#include "services.h"
#include "windows1251.h"

class QPrinter;

namespace orbelant {

class QtMessageBox final : public MessageBoxService {
public:
    explicit QtMessageBox(QString defaultCaption);
    void show(const QString &text, Icon icon, const QString &caption) override;
    bool ask(const QString &text, const QString &caption) override;

private:
    QString captionOr(const QString &caption) const;
    QString m_defaultCaption;
};

class DefaultPrinter final : public WindowPrinter {
public:
    ServiceResult print(QWidget &clientArea) override;
    ServiceResult printPages(const QString &documentName, const QString &notPrinted, const PageDrawing &draw) override;

private:
    // Runs `job` on the default printer and checks that the spooler took it.
    ServiceResult printOnDefault(const QString &notPrinted, const std::function<ServiceResult(QPrinter &)> &job);
};

class AppendingTextFile final : public TextFileService {
public:
    explicit AppendingTextFile(const CodePage &codePage);
    ServiceResult appendLine(const QString &path, const QStringList &texts) override;

private:
    const CodePage &m_codePage;
};

class LocalFileTest final : public FileTest {
public:
    QString existingFileName(const QString &path) const override;
};

class DetachedProcessStarter final : public ProcessStarter {
public:
    ServiceResult start(const QString &path) override;
};

// Owns one of each real service.
class RealPlatform {
public:
    explicit RealPlatform(const QString &programTitle);
    PlatformServices services();

private:
    QtMessageBox m_messages;
    DefaultPrinter m_printer;
    Windows1251CodePage m_codePage;
    AppendingTextFile m_textFile{m_codePage};
    LocalFileTest m_files;
    DetachedProcessStarter m_processes;
};

} // namespace orbelant
