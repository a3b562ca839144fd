#include "shell.h"

#include "form1.h"

namespace orbelant {

Shell::Shell(const PlatformServices &platform, SheetAccess &sheets)
    : m_platform(platform)
    , m_sheets(sheets)
    , m_form1([this] { return new Form1(m_platform, m_sheets); }, m_openWindows)
    , m_endOrder{&m_form1}
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

bool Shell::endProgram()
{
    for (WindowSlot *window : m_endOrder) {
        if (!window->unload())
            return false;
    }
    return true;
}

} // namespace orbelant
