#pragma once

#include <QString>

class QDialog;
class QPrinter;

namespace bv {

enum class Answer { Ok, Cancel, Yes, No };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Severity { Information, Warning, Error };

// What a file dialog is asked for. Filters are written the way the program's
// texts give them: "Description|*.A;*.B|Any File (*.*)|*.*".
struct FileRequest
{
    QString title;
    QString filter;
    QString defaultExt;
    QString initialDir;
    QString fileName;
};

// Every message box, question, file or folder dialog and modal window goes
// through one object of this kind; tests install a scripted one.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A message box with an OK button.
    virtual void message(const QString& text, Severity severity = Severity::Information) = 0;
    // A confirmation with the given buttons; returns the button pressed
    // (closing the box counts as No, or as Cancel where there is one).
    virtual Answer ask(const QString& text, Buttons buttons) = 0;
    // The question that can be switched off: window "Brevicast", buttons Yes
    // and No and the box "Don't ask me this question again.". dontAskAgain
    // holds the box's state when the dialog closes.
    virtual Answer askSwitchable(const QString& text, bool& dontAskAgain) = 0;
    // File dialogs: the chosen path, or an empty text when cancelled.
    virtual QString openFile(const FileRequest& request) = 0;
    virtual QString saveFile(const FileRequest& request) = 0;
    virtual QString chooseFolder(const QString& title, const QString& startFolder) = 0;
    // The print dialog for printer; true when the user chose to print (to a
    // printer or to a PDF file), with printer set up as chosen.
    virtual bool print(QPrinter& printer) = 0;
    // Shows a window modally and returns its result code.
    virtual int execModal(QDialog& dialog) = 0;
    // The program's general error display.
    virtual void showError(const QString& text) = 0;
};

} // namespace bv
