#pragma once
// The record source's bar: its caption centred between four square buttons, first and
// previous at the left end, next and last at the right end.

#include <QWidget>

class QLabel;
class QToolButton;

namespace orbelant {

class NavigationBar final : public QWidget {
    Q_OBJECT
public:
    explicit NavigationBar(QWidget *parent = nullptr);

    void setCaption(const QString &caption);
    QString caption() const;

signals:
    void firstClicked();
    void previousClicked();
    void nextClicked();
    void lastClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class Arrow { First, Previous, Next, Last };
    QToolButton *makeButton(Arrow arrow, const QString &objectName, const QString &accessibleName);
    static QIcon arrowIcon(Arrow arrow);

    QToolButton *m_first;
    QToolButton *m_previous;
    QToolButton *m_next;
    QToolButton *m_last;
    QLabel *m_caption;
};

} // namespace orbelant
