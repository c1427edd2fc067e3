#include "app/EditCommands.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace bv::app {

namespace {

QWidget* textControl(QWidget* w)
{
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->lineEdit();
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w))
        return w;
    return nullptr;
}

bool clipboardHasText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText();
}

// What each command would find in the control.
struct Facts
{
    bool selection = false;
    bool readOnly = true;
    bool text = false;
    bool undo = false;
    bool secret = false;
};

template <typename Editor>
void documentFacts(const Editor* e, Facts& f)
{
    f.selection = e->textCursor().hasSelection();
    f.readOnly = e->isReadOnly();
    f.text = !e->document()->isEmpty();
    f.undo = !f.readOnly && e->document()->isUndoAvailable();
}

Facts factsOf(QWidget* w)
{
    Facts f;
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        f.selection = e->hasSelectedText();
        f.readOnly = e->isReadOnly();
        f.text = !e->text().isEmpty();
        f.undo = e->isUndoAvailable();
        f.secret = e->echoMode() != QLineEdit::Normal;
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        documentFacts(p, f);
    } else if (auto* t = qobject_cast<QTextEdit*>(w)) {
        documentFacts(t, f);
    }
    return f;
}

template <typename Editor>
void runOn(Editor* e, int command)
{
    switch (command) {
    case 0:
        e->cut();
        break;
    case 1:
        e->copy();
        break;
    case 2:
        e->paste();
        break;
    case 3:
        e->selectAll();
        break;
    case 4:
        e->undo();
        break;
    }
}

} // namespace

EditCommands::EditCommands(QWidget* window, const Actions& actions)
    : QObject(window), m_window(window), m_actions(actions)
{
    for (QAction* a : {m_actions.cut, m_actions.copy, m_actions.paste, m_actions.selectAll, m_actions.undo,
                       m_actions.remove})
        connect(a, &QAction::triggered, this, [this, a] { run(a); });
    connect(qApp, &QApplication::focusChanged, this, &EditCommands::retarget);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &EditCommands::refresh);
    retarget();
}

void EditCommands::retarget()
{
    // The window's focus widget stays put while a menu is open or another
    // window is active, so the commands keep their target then.
    QWidget* target = textControl(m_window->focusWidget());
    if (target != m_target) {
        for (const auto& c : std::as_const(m_watch))
            disconnect(c);
        m_watch.clear();
        m_target = target;
        if (auto* e = qobject_cast<QLineEdit*>(target)) {
            m_watch << connect(e, &QLineEdit::selectionChanged, this, &EditCommands::refresh)
                    << connect(e, &QLineEdit::textChanged, this, &EditCommands::refresh);
        } else if (auto* p = qobject_cast<QPlainTextEdit*>(target)) {
            m_watch << connect(p, &QPlainTextEdit::selectionChanged, this, &EditCommands::refresh)
                    << connect(p, &QPlainTextEdit::textChanged, this, &EditCommands::refresh)
                    << connect(p, &QPlainTextEdit::undoAvailable, this, &EditCommands::refresh);
        } else if (auto* t = qobject_cast<QTextEdit*>(target)) {
            m_watch << connect(t, &QTextEdit::selectionChanged, this, &EditCommands::refresh)
                    << connect(t, &QTextEdit::textChanged, this, &EditCommands::refresh)
                    << connect(t, &QTextEdit::undoAvailable, this, &EditCommands::refresh);
        }
    }
    refresh();
}

void EditCommands::refresh()
{
    const bool any = m_target;
    const Facts f = any ? factsOf(m_target) : Facts{};
    m_actions.cut->setEnabled(any && f.selection && !f.readOnly && !f.secret);
    m_actions.copy->setEnabled(any && f.selection && !f.secret);
    m_actions.paste->setEnabled(any && !f.readOnly && clipboardHasText());
    m_actions.selectAll->setEnabled(any && f.text);
    m_actions.undo->setEnabled(any && f.undo);
    m_actions.remove->setEnabled(any && f.selection && !f.readOnly);
}

void EditCommands::run(QAction* action)
{
    if (!m_target || !action->isEnabled())
        return;
    if (action == m_actions.remove) {
        if (auto* e = qobject_cast<QLineEdit*>(m_target.data()))
            e->del();
        else if (auto* p = qobject_cast<QPlainTextEdit*>(m_target.data()))
            p->textCursor().removeSelectedText();
        else if (auto* t = qobject_cast<QTextEdit*>(m_target.data()))
            t->textCursor().removeSelectedText();
        refresh();
        return;
    }
    const QList<QAction*> order{m_actions.cut, m_actions.copy, m_actions.paste, m_actions.selectAll,
                                m_actions.undo};
    const int command = int(order.indexOf(action));
    if (auto* e = qobject_cast<QLineEdit*>(m_target.data()))
        runOn(e, command);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(m_target.data()))
        runOn(p, command);
    else if (auto* t = qobject_cast<QTextEdit*>(m_target.data()))
        runOn(t, command);
    refresh();
}

} // namespace bv::app
