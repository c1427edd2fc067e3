#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QPlainTextEdit;

namespace bv::app {

class TfrmBrevicastMain;
struct FileDialogState;

// The commands of the main window that work on the message itself: the Insert
// menu, the on-screen HTML preview, message files, body files and the preview
// file handed to the desktop's mail program.
class MessageCommands : public QObject
{
    Q_OBJECT
public:
    // The preview pages tried in turn, "__TM1__.htm" to "__TM9__.htm".
    static constexpr int kPreviewPages = 9;
    static QString previewPageName(int n);
    static QString previewFileName() { return QStringLiteral("Preview.eml"); }
    // The placeholder To of the preview file: an address on a reserved test domain.
    static QString previewRecipient();
    static QString insertOnlyInEditorsText();

    explicit MessageCommands(TfrmBrevicastMain& window);

    // The Insert menu's five actions.
    void InsertSpecial(QAction* action);

    // Renders the HTML body with sample values into the first preview page that
    // can be written and shown, then applies the insert commands' focus rule.
    // Returns false when none of the nine pages could be used (reported).
    bool memHTMLSourceExit();

    void openMessage();
    // SaveMsg and "Save Message As...": ask for a name only the first time.
    void saveMessage();
    void loadPlainText();
    void loadHtml();
    // askName: the tool bars' "Save As..." buttons always ask.
    void savePlainText(bool askName);
    void saveHtml(bool askName);

    // "Pr&eview": composes the message for the sample recipient, writes
    // Preview.eml and opens it with the desktop's default handler.
    void preview();

private:
    QPlainTextEdit* focusedEditor() const;
    // Shows an open or save dialog starting in the program folder; the chosen
    // path, empty when cancelled. An open dialog's state keeps the chosen
    // name; a save dialog's keeps it once the caller has written the file.
    enum class Ask
    {
        Open,
        Save
    };
    static void remember(FileDialogState& state, const QString& path);
    QString askFile(Ask kind, FileDialogState& state, const QString& title, const QString& filter,
                    const QString& ext);
    // Replaces the editor's text by the file's lines; a file that cannot be
    // read is reported and the editor keeps its text.
    bool loadBody(QPlainTextEdit* editor, const QString& path);
    void saveBody(QPlainTextEdit* editor, FileDialogState& state, const QString& filter,
                  const QString& ext, bool askName);
    bool showPreviewPage(const QString& path, const QStringList& images);

    TfrmBrevicastMain& w;
};

} // namespace bv::app
