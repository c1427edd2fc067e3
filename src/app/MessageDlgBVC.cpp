#include "app/MessageDlgBVC.h"

#include "core/IniFile.h"
#include "app/WindowState.h"
#include "core/TextFile.h"

namespace bv::app {

namespace {

const QString kDefaults = QString::fromLatin1(kDefaultsSection);

QString warningsPath(const QString& programFolder)
{
    return programFolder + QLatin1String(kWarningsFileName);
}

const QString& textSkippingRecords()
{
    static const QString text = QStringList{
        QStringLiteral("If you are skipping records to finish sending an aborted or incomplete Send "),
        QStringLiteral("operation, you may have better success and a more accurate operation if you "),
        QStringLiteral("click \"Redo\" instead.  "),
        QString(),
        QStringLiteral("Do you still want to continue?"),
    }.join(QLatin1Char('\n'));
    return text;
}

const QString& textMailboxFile()
{
    static const QString text = QStringList{
        QStringLiteral("This procedure requires the processing of file containing organized or scattered "),
        QStringLiteral("email address intended for removal."),
        QString(),
        QStringLiteral("The popular Qualcomm email program, Eudora, formats each mailbox it uses in "),
        QStringLiteral("this manner.  To use this feature, inside Eudora, place the returned emails in a "),
        QStringLiteral("Eudora folder, then copy the mailbox file to an easy to find location.  The mailbox "),
        QStringLiteral("file can be found in the Eudora Folder assigned it and named with the name of the "),
        QStringLiteral("mailbox followed by an \"mbx\" extension."),
        QString(),
        QStringLiteral("Do you want to continue?"),
    }.join(QLatin1Char('\n'));
    return text;
}

// An unreadable file counts as holding no key: every question is asked.
IniFile readWarnings(const QString& programFolder)
{
    IniFile ini;
    if (!IniFile::load(warningsPath(programFolder), ini))
        return IniFile();
    return ini;
}

bool writeWarnings(const QString& programFolder, const IniFile& ini, QString* error)
{
    const QString path = warningsPath(programFolder);
    if (replaceFile(path, joinCrLf(ini.toLines())))
        return true;
    if (error)
        *error = unableToWriteText(path);
    return false;
}

} // namespace

QStringList warningKeys()
{
    return {QLatin1String(kRedoMsg), QLatin1String(kSkipMsg), QLatin1String(kRtdFileMsg)};
}

QString questionText(const QString& key)
{
    if (key == QLatin1String(kRedoMsg) || key == QLatin1String(kSkipMsg))
        return textSkippingRecords();
    if (key == QLatin1String(kRtdFileMsg))
        return textMailboxFile();
    return {};
}

bool isQuestionSuppressed(const QString& programFolder, const QString& key)
{
    return readWarnings(programFolder).number(kDefaults, key, 0) != 0;
}

bool setQuestionSuppressed(const QString& programFolder, const QString& key, bool suppressed,
                           QString* error)
{
    IniFile ini = readWarnings(programFolder);
    ini.setValue(kDefaults, key, suppressed ? QStringLiteral("1") : QStringLiteral("0"));
    return writeWarnings(programFolder, ini, error);
}

Answer AskQuestion(Dialogs& dialogs, const QString& programFolder, const QString& key)
{
    if (isQuestionSuppressed(programFolder, key))
        return Answer::Yes;
    bool dontAskAgain = false;
    const Answer answer = dialogs.askSwitchable(questionText(key), dontAskAgain);
    QString error;
    if (!setQuestionSuppressed(programFolder, key, dontAskAgain, &error))
        dialogs.showError(error);
    return answer == Answer::Yes ? Answer::Yes : Answer::No;
}

void ResetWarnings(Dialogs& dialogs, const QString& programFolder)
{
    IniFile ini = readWarnings(programFolder);
    for (const QString& key : warningKeys())
        ini.setValue(kDefaults, key, QStringLiteral("0"));
    QString error;
    if (!writeWarnings(programFolder, ini, &error)) {
        dialogs.showError(error);
        return;
    }
    dialogs.message(QStringLiteral("Warning and Confirmation messages have been reset."));
}

} // namespace bv::app
