#pragma once

#include "core/Dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace bv::test {

// Records every dialog the code under test opens and plays the answers the
// test queued. A dialog with no queued answer is recorded and answered with
// Cancel / No / an empty path, so a test never blocks.
class ScriptedDialogs : public Dialogs
{
public:
    struct Shown
    {
        QString kind; // "message", "ask", "switchable", "open", "save", "folder", "print", "modal", "error"
        QString text; // message text, or the dialog's title
        Buttons buttons = Buttons::Ok;
        FileRequest request;
    };

    // Answers, taken in order by whichever dialog comes next that needs one.
    void queueAnswer(Answer answer) { m_answers.push_back(answer); }
    // For askSwitchable: the answer and the state of "Don't ask me again".
    void queueSwitchable(Answer answer, bool dontAskAgain)
    {
        m_switchable.push_back({answer, dontAskAgain});
    }
    void queuePath(const QString& path) { m_paths.push_back(path); }
    // The next print dialog prints to this PDF file; with none queued it is
    // cancelled.
    void queuePrintToPdf(const QString& path) { m_prints.push_back(path); }
    // A script for the next modal window: gets the window, returns its result.
    void queueModal(std::function<int(QDialog&)> script) { m_modals.push_back(std::move(script)); }

    const QList<Shown>& shown() const { return m_shown; }
    QStringList texts() const;                       // every text, in order
    QStringList texts(const QString& kind) const;    // the texts of one kind
    QString lastText() const { return m_shown.isEmpty() ? QString() : m_shown.last().text; }
    void clear() { m_shown.clear(); }
    bool allAnswersUsed() const
    {
        return m_answers.empty() && m_switchable.empty() && m_paths.empty() && m_modals.empty() && m_prints.empty();
    }

    void message(const QString& text, Severity severity) override;
    Answer ask(const QString& text, Buttons buttons) override;
    Answer askSwitchable(const QString& text, bool& dontAskAgain) override;
    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString chooseFolder(const QString& title, const QString& startFolder) override;
    bool print(QPrinter& printer) override;
    int execModal(QDialog& dialog) override;
    void showError(const QString& text) override;

private:
    QList<Shown> m_shown;
    std::deque<Answer> m_answers;
    std::deque<std::pair<Answer, bool>> m_switchable;
    std::deque<QString> m_paths;
    std::deque<std::function<int(QDialog&)>> m_modals;
    std::deque<QString> m_prints;
};

} // namespace bv::test
