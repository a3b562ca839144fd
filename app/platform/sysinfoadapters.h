#pragma once
// The program's own file test, process starter and message box behind the launcher's
// plain interfaces. Paths cross over in the system's 8-bit code page, as the registry
// gives them.

#include "services.h"
#include "sysinfoservices.h"

namespace orbelant {

class SysInfoFileTestAdapter final : public sysinfo::FileTest {
public:
    explicit SysInfoFileTestAdapter(const orbelant::FileTest &files)
        : m_files(files)
    {
    }
    std::string existingFileName(const std::string &path) const override
    {
        return m_files.existingFileName(QString::fromLocal8Bit(path)).toLocal8Bit().toStdString();
    }

private:
    const orbelant::FileTest &m_files;
};

class SysInfoProcessAdapter final : public sysinfo::ProcessStarter {
public:
    explicit SysInfoProcessAdapter(orbelant::ProcessStarter &processes)
        : m_processes(processes)
    {
    }
    bool start(const std::string &path) override
    {
        return m_processes.start(QString::fromLocal8Bit(path)).has_value();
    }

private:
    orbelant::ProcessStarter &m_processes;
};

class SysInfoMessageAdapter final : public sysinfo::MessageShower {
public:
    explicit SysInfoMessageAdapter(MessageBoxService &messages)
        : m_messages(messages)
    {
    }
    // No caption of its own: the message box service puts the program's title there.
    void show(const std::string &text) override
    {
        m_messages.show(QString::fromLocal8Bit(text), MessageBoxService::Icon::None, QString());
    }

private:
    MessageBoxService &m_messages;
};

} // namespace orbelant
