#pragma once
// The application shell: owns the one instance of each window and ends the program when
// the last window has been closed.

#include "form2.h"
#include "services.h"
#include "windowinstance.h"

#include <vector>

namespace orbelant {

class Form1;
class frmAbout;
class frmChart;
class SheetAccess;

class Shell final : public QObject, public WindowRequests, public SearchDialogShell {
    Q_OBJECT
public:
    Shell(const PlatformServices &platform, SheetAccess &sheets);
    ~Shell() override;

    // Creates Form1, runs its load step and shows it.
    void start();

    // The main window, created and loaded when there is none.
    Form1 &form1() override;
    void showForm1() override;
    bool form1Exists() const;

    // The age search dialog and the About box, shown modeless, one instance each.
    void showForm2() override;
    void showFrmAbout() override;
    bool form2Exists() const;
    bool frmAboutExists() const;
    // The chart window, shown modeless, one instance, following the main window's record source.
    void showChart() override;
    bool chartExists() const;
    // The instances, created and loaded when there is none; not shown.
    Form2 &form2();
    frmAbout &about();
    frmChart &chart();

    // Unloads every open window. False when one of them refused to close.
    bool endProgram() override;

    int openWindowCount() const { return m_openWindows.count(); }

signals:
    void lastWindowClosed();

private:
    Form1 *makeForm1();
    frmChart *makeChart();

    PlatformServices m_platform;
    SheetAccess &m_sheets;
    OpenWindows m_openWindows;
    WindowInstance<Form1> m_form1;
    WindowInstance<Form2> m_form2;
    WindowInstance<frmAbout> m_about;
    WindowInstance<frmChart> m_chart;
    // The order in which ending the program unloads the windows.
    std::vector<WindowSlot *> m_endOrder;
};

} // namespace orbelant
