#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QWidget;

namespace bv::app {

// The Edit menu's commands: each works on the window's focused text control
// and is enabled only while it would do something there.
class EditCommands : public QObject
{
    Q_OBJECT
public:
    struct Actions
    {
        QAction* cut;
        QAction* copy;
        QAction* paste;
        QAction* selectAll;
        QAction* undo;
        QAction* remove;
    };

    EditCommands(QWidget* window, const Actions& actions);

    // The text control the commands work on, or nullptr.
    QWidget* target() const { return m_target; }
    void refresh();

private:
    void retarget();
    void run(QAction* action);

    QWidget* m_window;
    Actions m_actions;
    QPointer<QWidget> m_target;
    QList<QMetaObject::Connection> m_watch;
};

} // namespace bv::app
