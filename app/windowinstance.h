#pragma once
// The one instance of a window class: created on first use (its load() runs then, once),
// shown modeless without an owner, raised when shown again, forgotten when the window
// unloads itself. A window class provides load(), the signal unloaded() emitted from an
// accepted closeEvent, and Qt::WA_DeleteOnClose.

#include <QObject>
#include <QWidget>
#include <functional>

namespace orbelant {

// Counts the windows that exist and says when the last one has gone.
class OpenWindows final : public QObject {
    Q_OBJECT
public:
    int count() const { return m_count; }
    void opened() { ++m_count; }
    void closed()
    {
        if (--m_count == 0)
            emit lastWindowClosed();
    }

signals:
    void lastWindowClosed();

private:
    int m_count = 0;
};

// What ending the program needs of every window instance.
class WindowSlot {
public:
    virtual ~WindowSlot() = default;
    virtual bool exists() const = 0;
    // Closes the window; false when it refused to close.
    virtual bool unload() = 0;
};

template <typename Window>
class WindowInstance final : public WindowSlot {
public:
    using Factory = std::function<Window *()>;

    WindowInstance(Factory make, OpenWindows &openWindows)
        : m_make(std::move(make))
        , m_openWindows(openWindows)
    {
    }
    ~WindowInstance() override
    {
        if (m_window) {
            QObject::disconnect(m_window, nullptr, &m_context, nullptr);
            delete m_window;
        }
    }
    WindowInstance(const WindowInstance &) = delete;
    WindowInstance &operator=(const WindowInstance &) = delete;

    bool exists() const override { return m_window != nullptr; }

    // The instance, created and loaded when there is none; not shown.
    Window &get()
    {
        if (!m_window) {
            Window *window = m_make();
            m_window = window;
            m_openWindows.opened();
            QObject::connect(window, &Window::unloaded, &m_context, [this, window] { forget(window); });
            QObject::connect(window, &QObject::destroyed, &m_context, [this, window] { forget(window); });
            window->load();
        }
        return *m_window;
    }

    void show()
    {
        Window &window = get();
        window.show();
        window.raise();
        window.activateWindow();
    }

    bool unload() override { return !m_window || m_window->close(); }

private:
    void forget(Window *window)
    {
        if (m_window != window)
            return;
        m_window = nullptr;
        m_openWindows.closed();
    }

    Factory m_make;
    OpenWindows &m_openWindows;
    Window *m_window = nullptr;
    QObject m_context; // receiver of the window's signals; goes with this instance
};

} // namespace orbelant
