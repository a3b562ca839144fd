#pragma once
// The About box: the program's title and version, the installation note, and the button
// that starts the system-information viewer. A fixed dialog, modeless.

#include "programinfo.h"
#include "services.h"
#include "sysinfoservices.h"

#include <QWidget>
#include <memory>

namespace Ui { class frmAbout; }

namespace orbelant {

class frmAbout final : public QWidget {
    Q_OBJECT
public:
    // `registry` is where "System Info..." looks the viewer up; `version` is what the box
    // shows (the program's own unless a test gives another).
    frmAbout(const PlatformServices &platform, std::unique_ptr<sysinfo::Registry> registry,
             ProgramVersion version = programVersion, QWidget *parent = nullptr);
    ~frmAbout() override;

    // Runs Form_Load, once, before the box is first shown.
    void load();

    // Starts the system-information viewer, or tells the user that it is unavailable.
    void StartSysInfo();

signals:
    // The box has accepted its closing and is about to be destroyed.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Enter and Esc that no button took press OK, the default and cancel button.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();

    // Event procedures.
    void cmdOK_Click();
    void cmdSysInfo_Click();

    std::unique_ptr<Ui::frmAbout> ui;
    PlatformServices m_platform;
    std::unique_ptr<sysinfo::Registry> m_registry;
    ProgramVersion m_version;
};

} // namespace orbelant
