#include "shell.h"

#include "form1.h"
#include "form2.h"
#include "frmabout.h"
#include "systemregistry.h"

namespace orbelant {

Shell::Shell(const PlatformServices &platform, SheetAccess &sheets)
    : m_platform(platform)
    , m_sheets(sheets)
    , m_form1([this] { return new Form1(m_platform, *this, m_sheets); }, m_openWindows)
    , m_form2([this] { return new Form2(m_platform.messages, *this); }, m_openWindows)
    , m_about([this] { return new frmAbout(m_platform, sysinfo::makeSystemRegistry()); }, m_openWindows)
    , m_endOrder{&m_form2, &m_about, &m_form1}
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

bool Shell::endProgram()
{
    for (WindowSlot *window : m_endOrder) {
        if (!window->unload())
            return false;
    }
    return true;
}

} // namespace orbelant
