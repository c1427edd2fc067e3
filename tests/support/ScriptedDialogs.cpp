#include "ScriptedDialogs.h"

#include <QDialog>
#include <QPrinter>

namespace bv::test {

QStringList ScriptedDialogs::texts() const
{
    QStringList out;
    for (const Shown& s : m_shown)
        out << s.text;
    return out;
}

QStringList ScriptedDialogs::texts(const QString& kind) const
{
    QStringList out;
    for (const Shown& s : m_shown)
        if (s.kind == kind)
            out << s.text;
    return out;
}

void ScriptedDialogs::message(const QString& text, Severity)
{
    m_shown.append({QStringLiteral("message"), text, Buttons::Ok, {}});
}

Answer ScriptedDialogs::ask(const QString& text, Buttons buttons)
{
    m_shown.append({QStringLiteral("ask"), text, buttons, {}});
    if (m_answers.empty())
        return buttons == Buttons::YesNoCancel || buttons == Buttons::OkCancel ? Answer::Cancel
                                                                               : Answer::No;
    const Answer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

Answer ScriptedDialogs::askSwitchable(const QString& text, bool& dontAskAgain)
{
    m_shown.append({QStringLiteral("switchable"), text, Buttons::YesNo, {}});
    if (m_switchable.empty()) {
        dontAskAgain = false;
        return Answer::No;
    }
    const auto [answer, box] = m_switchable.front();
    m_switchable.pop_front();
    dontAskAgain = box;
    return answer;
}

QString ScriptedDialogs::openFile(const FileRequest& request)
{
    m_shown.append({QStringLiteral("open"), request.title, Buttons::Ok, request});
    if (m_paths.empty())
        return {};
    const QString p = m_paths.front();
    m_paths.pop_front();
    return p;
}

QString ScriptedDialogs::saveFile(const FileRequest& request)
{
    m_shown.append({QStringLiteral("save"), request.title, Buttons::Ok, request});
    if (m_paths.empty())
        return {};
    const QString p = m_paths.front();
    m_paths.pop_front();
    return p;
}

QString ScriptedDialogs::chooseFolder(const QString& title, const QString& startFolder)
{
    FileRequest r;
    r.title = title;
    r.initialDir = startFolder;
    m_shown.append({QStringLiteral("folder"), title, Buttons::Ok, r});
    if (m_paths.empty())
        return {};
    const QString p = m_paths.front();
    m_paths.pop_front();
    return p;
}

bool ScriptedDialogs::print(QPrinter& printer)
{
    m_shown.append({QStringLiteral("print"), printer.docName(), Buttons::Ok, {}});
    if (m_prints.empty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(m_prints.front());
    m_prints.pop_front();
    return true;
}

int ScriptedDialogs::execModal(QDialog& dialog)
{
    m_shown.append({QStringLiteral("modal"), dialog.windowTitle(), Buttons::Ok, {}});
    if (m_modals.empty())
        return QDialog::Rejected;
    auto script = std::move(m_modals.front());
    m_modals.pop_front();
    return script(dialog);
}

void ScriptedDialogs::showError(const QString& text)
{
    m_shown.append({QStringLiteral("error"), text, Buttons::Ok, {}});
}

} // namespace bv::test
