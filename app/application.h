#pragma once
// The QApplication of the program: Russian texts for Qt's own dialogs and menus, the
// program's font, and a last guard that reports an error escaping an event handler in a
// message box and lets the program go on.

#include <QApplication>

namespace orbelant {

class MessageBoxService;

class Application final : public QApplication {
public:
    Application(int &argc, char **argv);

    void setMessageBox(MessageBoxService *messages) { m_messages = messages; }
    bool notify(QObject *receiver, QEvent *event) override;

private:
    void installRussianTranslation();
    void report(const QString &text);

    MessageBoxService *m_messages = nullptr;
};

} // namespace orbelant
