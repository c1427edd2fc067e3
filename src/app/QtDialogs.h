#pragma once

#include "core/Dialogs.h"

#include <QStringList>

class QWidget;

namespace bv::app {

// The caption of every box the program shows.
inline constexpr const char* kProgramCaption = "Brevicast";

// A filter in the program's notation ("Text Files (*.TXT)|*.TXT|Any File
// (*.*)|*.*") as Qt name filters. Each entry keeps its description as the
// text shown; its masks match without regard to letter case, and "*.*" also
// matches names without a dot, as it does on the system the texts come from.
QStringList qtNameFilters(const QString& filter);

// A file mask that matches without regard to letter case on a file system
// that tells cases apart: "*.TXT" -> "*.[tT][xX][tT]".
QString caseInsensitiveMask(const QString& mask);

// The dialogs service of the running program: Qt message boxes and file
// dialogs, each with the caption "Brevicast".
class QtDialogs : public Dialogs
{
public:
    // Boxes are centred over whichever window is active when they open.
    QtDialogs() = default;

    void message(const QString& text, Severity severity = Severity::Information) override;
    Answer ask(const QString& text, Buttons buttons) override;
    Answer askSwitchable(const QString& text, bool& dontAskAgain) override;
    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString chooseFolder(const QString& title, const QString& startFolder) override;
    bool print(QPrinter& printer) override;
    int execModal(QDialog& dialog) override;
    void showError(const QString& text) override;

private:
    QString runFileDialog(const FileRequest& request, bool save);
};

} // namespace bv::app
