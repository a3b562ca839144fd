#include "shell.h"

#include "datacontrol.h"
#include "form1.h"
#include "form2.h"
#include "frmabout.h"
#include "frmchart.h"
#include "systemregistry.h"

namespace orbelant {

Shell::Shell(const PlatformServices &platform, SheetAccess &sheets)
    : m_platform(platform)
    , m_sheets(sheets)
    , m_form1([this] { return makeForm1(); }, m_openWindows)
    , m_form2([this] { return new Form2(m_platform.messages, *this); }, m_openWindows)
    , m_about([this] { return new frmAbout(m_platform, sysinfo::makeSystemRegistry()); }, m_openWindows)
    , m_chart([this] { return makeChart(); }, m_openWindows)
    , m_endOrder{&m_form2, &m_about, &m_chart, &m_form1}
{
    connect(&m_openWindows, &OpenWindows::lastWindowClosed, this, &Shell::lastWindowClosed);
}

Shell::~Shell() = default;

void Shell::start()
{
    m_form1.show();
}

Form1 &Shell::form1()
{
    return m_form1.get();
}

void Shell::showForm1()
{
    m_form1.show();
}

bool Shell::form1Exists() const
{
    return m_form1.exists();
}

void Shell::showForm2()
{
    m_form2.show();
}

void Shell::showFrmAbout()
{
    m_about.show();
}

bool Shell::form2Exists() const
{
    return m_form2.exists();
}

bool Shell::frmAboutExists() const
{
    return m_about.exists();
}

Form2 &Shell::form2()
{
    return m_form2.get();
}

frmAbout &Shell::about()
{
    return m_about.get();
}

void Shell::showChart()
{
    m_chart.show();
}

bool Shell::chartExists() const
{
    return m_chart.exists();
}

frmChart &Shell::chart()
{
    return m_chart.get();
}

// The chart follows whichever main window there is: the one open when the chart opens, or
// one made later.
Form1 *Shell::makeForm1()
{
    auto *form = new Form1(m_platform, *this, m_sheets);
    if (m_chart.exists())
        m_chart.get().follow(&form->Data1());
    return form;
}

frmChart *Shell::makeChart()
{
    auto *chart = new frmChart(m_platform);
    if (m_form1.exists())
        chart->follow(&m_form1.get().Data1());
    return chart;
}

bool Shell::endProgram()
{
    for (WindowSlot *window : m_endOrder) {
        if (!window->unload())
            return false;
    }
    return true;
}

} // namespace orbelant
