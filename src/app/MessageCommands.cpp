#include "app/MessageCommands.h"

#include "app/BrevicastMain.h"
#include "app/BrevicastMainUi.h"
#include "app/CurrentMessage.h"
#include "compose/DkimKeys.h"
#include "app/WebBrowserWithUI.h"
#include "compose/MergeFields.h"
#include "compose/MimeEntity.h"
#include "core/Dialogs.h"
#include "core/Shell.h"
#include "core/TextFile.h"
#include "core/SenderAccounts.h"
#include "send/SmtpClient.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QUrl>

namespace bv::app {

namespace {

const QString kMessageFilterOpen = QStringLiteral("Brevicast (*.BVC)|*.BVC|All Files (*.*)|*.*");
const QString kMessageFilterSave = QStringLiteral("Brevicast (*.bvc)|*.BVC|All Files (*.*)|*.*");
const QString kTextFilter = QStringLiteral("Text Files (*.TXT)|*.TXT|Any File (*.*)|*.*");
const QString kHtmlFilterOpen =
    QStringLiteral("HTML Files (*.HTM, *.HTML)|*.HTM;*.HTML|Any File (*.*)|*.*");
const QString kHtmlFilterSave =
    QStringLiteral("HTML Files (*.HTM, *.HTML)|*.HTM, *.HTML|Any File (*.*)|*.*");
const QString kImageFilter =
    QStringLiteral("Image Files (*.JPG, *.GIF, *.BMP)|*.JPG;*.GIF;*.BMP|Any File (*.*)|*.*");

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QString MessageCommands::previewPageName(int n)
{
    return app::previewPageName(n);
}

QString MessageCommands::previewRecipient()
{
    return QStringLiteral("\"Test Account\" <test.account@example.com>");
}

QString MessageCommands::insertOnlyInEditorsText()
{
    return QStringLiteral(
        "Insert commands are only allowed when editing the HTML or Plain Text messages.");
}

MessageCommands::MessageCommands(TfrmBrevicastMain& window) : QObject(&window), w(window)
{
    // Links of the previewed message open in the user's browser.
    connect(w.wbHTMLMessage, &TWebBrowserWithUI::linkClicked, this,
            [this](const QUrl& url) { openOutsideLink(w.services().shell, url); });
}

QPlainTextEdit* MessageCommands::focusedEditor() const
{
    // The window's focus widget, not the application's: while the Insert menu
    // is open the menu has the keyboard, yet the editor is still the target.
    const QWidget* focus = w.focusWidget();
    if (focus == w.memHTMLSource)
        return w.memHTMLSource;
    if (focus == w.memTextMessage)
        return w.memTextMessage;
    return nullptr;
}

void MessageCommands::InsertSpecial(QAction* action)
{
    QPlainTextEdit* editor = focusedEditor();
    if (!editor) {
        w.services().dialogs.message(insertOnlyInEditorsText());
        return;
    }
    QString text;
    if (action == w.FirstName) {
        text = compose::insertText(compose::InsertAction::FirstName);
    } else if (action == w.LastName) {
        text = compose::insertText(compose::InsertAction::LastName);
    } else if (action == w.Salutation) {
        text = compose::insertText(compose::InsertAction::Salutation);
    } else if (action == w.Expletive) {
        text = compose::insertText(compose::InsertAction::Expletive);
    } else if (action == w.Image) {
        // An image only makes sense in the HTML body; its shortcut must not
        // put a token into the plain text.
        if (editor != w.memHTMLSource)
            return;
        const QString path =
            askFile(Ask::Open, w.opnImage, QStringLiteral("Open Image"), kImageFilter, QString());
        if (path.isEmpty())
            return;
        text = compose::insertText(compose::InsertAction::Image, native(path));
    } else {
        return;
    }
    // The inserted text stays on the clipboard afterwards. The editor takes it
    // directly rather than by pasting, so that a clipboard owned by another
    // program cannot slip different text in.
    QGuiApplication::clipboard()->setText(text);
    editor->setFocus();
    editor->insertPlainText(text);
}

bool MessageCommands::showPreviewPage(const QString& path, const QStringList& images)
{
    if (!QFileInfo(path).isReadable())
        return false;
    const QUrl url = QUrl::fromLocalFile(path);
    w.wbHTMLMessage->setLocalImages(images);
    w.wbHTMLMessage->Navigate(url);
    return w.wbHTMLMessage->source() == url;
}

bool MessageCommands::memHTMLSourceExit()
{
    QStringList images;
    QStringList lines = splitLines(compose::RenderPreview(editorText(w.memHTMLSource), &images));
    // The view takes an empty file for a missing one.
    if (lines.isEmpty())
        lines.append(QString());
    const QString folder = w.services().programFolder;
    QString failure;
    bool shown = false;
    for (int n = 1; n <= kPreviewPages && !shown; ++n) {
        const QString path = folder + previewPageName(n);
        QString reason;
        if (!writeTextLines(path, lines, &reason))
            failure = QStringLiteral("Cannot create file \"%1\". %2").arg(native(path), reason);
        else if (!showPreviewPage(path, images))
            failure = QStringLiteral("Cannot show the preview page \"%1\".").arg(native(path));
        else
            shown = true;
    }
    if (!shown)
        w.services().dialogs.showError(failure);
    w.refreshInsertCommands();
    return shown;
}

QString MessageCommands::askFile(Ask kind, FileDialogState& state, const QString& title,
                                 const QString& filter, const QString& ext)
{
    const FileRequest request{title, filter, ext, w.services().programFolder, state.fileName};
    Dialogs& dialogs = w.services().dialogs;
    const QString path = kind == Ask::Open ? dialogs.openFile(request) : dialogs.saveFile(request);
    // A name to save under is remembered once the file is written: a failed
    // write must not leave Save writing to that path again without asking.
    if (kind == Ask::Open)
        remember(state, path);
    return path;
}

void MessageCommands::remember(FileDialogState& state, const QString& path)
{
    if (!path.isEmpty())
        state = {path, QFileInfo(path).path()};
}

void MessageCommands::openMessage()
{
    const QString path = askFile(Ask::Open, w.opnMessage, QStringLiteral("Open Message"),
                                 kMessageFilterOpen, QStringLiteral("BVC"));
    if (!path.isEmpty())
        w.loadWindowState(path, true);
}

void MessageCommands::saveMessage()
{
    QString path = w.SaveDialog3.fileName;
    if (path.isEmpty())
        path =
            askFile(Ask::Save, w.SaveDialog3, QString(), kMessageFilterSave, QStringLiteral("BVC"));
    if (!path.isEmpty() && w.saveWindowState(path, true))
        remember(w.SaveDialog3, path);
}

bool MessageCommands::loadBody(QPlainTextEdit* editor, const QString& path)
{
    QStringList lines;
    QString reason;
    if (!readTextLines(path, lines, &reason)) {
        w.services().dialogs.showError(
            QStringLiteral("Unable to read %1: %2").arg(native(path), reason));
        return false;
    }
    editor->setPlainText(lines.join(QLatin1Char('\n')));
    return true;
}

void MessageCommands::loadPlainText()
{
    const QString path = askFile(Ask::Open, w.opnTextMessage, QStringLiteral("Open Text Message"),
                                 kTextFilter, QStringLiteral("TXT"));
    if (!path.isEmpty())
        loadBody(w.memTextMessage, path);
}

void MessageCommands::loadHtml()
{
    const QString path = askFile(Ask::Open, w.opnHTMLMessage, QStringLiteral("Open Text Message"),
                                 kHtmlFilterOpen, QStringLiteral("HTM"));
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    if (loadBody(w.memHTMLSource, path))
        memHTMLSourceExit();
}

void MessageCommands::saveBody(QPlainTextEdit* editor, FileDialogState& state,
                               const QString& filter, const QString& ext, bool askName)
{
    QString path = askName ? QString() : state.fileName;
    if (path.isEmpty())
        path = askFile(Ask::Save, state, QString(), filter, ext);
    if (path.isEmpty())
        return;
    // Not written means the body is not safe on disk: the user must hear of it.
    QString reason;
    if (!writeTextLines(path, editorLines(editor), &reason)) {
        w.services().dialogs.showError(unableToWriteText(path) + QStringLiteral(": ") + reason);
        return;
    }
    remember(state, path);
}

void MessageCommands::savePlainText(bool askName)
{
    saveBody(w.memTextMessage, w.SaveDialog1, kTextFilter, QStringLiteral("TXT"), askName);
}

void MessageCommands::saveHtml(bool askName)
{
    saveBody(w.memHTMLSource, w.SaveDialog2, kHtmlFilterSave, QStringLiteral("HTM"), askName);
}

void MessageCommands::preview()
{
    Dialogs& dialogs = w.services().dialogs;
    if (w.cbFromEmail->currentIndex() < 0 || w.cbFromEmail->currentText().isEmpty()) {
        dialogs.message(QStringLiteral("Please select a From Address."));
        return;
    }
    if (w.cbEmailSubject->currentText().isEmpty()) {
        dialogs.message(QStringLiteral("Please give this email a Subject."));
        return;
    }
    const QString path = w.services().programFolder + previewFileName();
    try {
        w.ComposeMessage(QStringLiteral("Mr."), QStringLiteral("Bob"), QStringLiteral("Jones"));
        compose::TIpMailMessage& message = w.smtpClient().message();
        message.setMailTo({previewRecipient()});
        // Signed as a mailing would be, so the user sees what will go out.
        message.setSigner(compose::DkimSignerForSender(w.services().programFolder, message.from()));
        message.SaveToFile(path);
    } catch (const compose::MessageError& e) {
        dialogs.showError(e.message());
        return;
    } catch (const AccountsError& e) {
        dialogs.showError(e.message());
        return;
    }
    if (!w.services().shell.openUrl(QUrl::fromLocalFile(path)))
        dialogs.showError(
            QStringLiteral(
                "The preview was saved as %1, but no program could be started to show it.")
                .arg(native(path)));
}

} // namespace bv::app
