#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace bv {
class IniFile;
class SecretStore;
} // namespace bv

namespace bv::app {

// How a persisted control keeps its value in the window-state file.
enum class ControlKind {
    Edit,              // text
    DropDownList,      // text of the chosen item; items are the choices offered
    ComboBox,          // text
    ComboBoxWithItems, // text, and items saved as nameItems1, nameItems2, ...
    CheckBox,          // checked
    RadioGroup,        // index
    FileDialog,        // text = last file name; folder = where the dialog starts
    MultiLineText,     // lines
};

// One persisted control, by name. The window hands the writer an ordered list
// of these and the reader fills the same list back in.
struct ControlValue
{
    QString name;
    ControlKind kind = ControlKind::Edit;
    QString text;
    QStringList items;
    QStringList lines;
    bool checked = false;
    bool checkedWhenAbsent = true; // check box: its state when the file has no key
    int index = -1;  // radio group choice; drop-down list: chosen item or -1
    QString folder;  // file dialog: starting folder after reading

    static ControlValue edit(const QString& name, const QString& text);
    static ControlValue dropDown(const QString& name, const QString& text, const QStringList& items);
    static ControlValue combo(const QString& name, const QString& text);
    static ControlValue comboWithItems(const QString& name, const QString& text, const QStringList& items);
    static ControlValue checkBox(const QString& name, bool checked, bool checkedWhenAbsent = true);
    static ControlValue radioGroup(const QString& name, int index);
    static ControlValue fileDialog(const QString& name, const QString& fileName);
    static ControlValue multiLine(const QString& name, const QStringList& lines);
};

// The section that holds every control key.
inline constexpr const char* kDefaultsSection = "Defaults";

// The whole window-state file: "Defaults" with one key per control (item keys
// right after their control's key), then for every multi-line text, in order,
// its section with _TextBegin/_TextEnd (file line numbers counted from 0), its
// _TEXTSection with the raw lines and name_Dummy=-1. Lines end with CR LF.
QByteArray renderWindowState(const QList<ControlValue>& controls);

// The same as lines, without line ends.
QStringList windowStateLines(const QList<ControlValue>& controls);

// The two kinds of window-state file. A message file is copied and shared, so
// it never holds the SMTP password; the settings file holds it only when the
// secret store does not.
enum class StateFile { Settings, Message };

// Writes the file through a temporary file, so that a failed write leaves the
// file that was there before. On failure *error is "Unable to write to " +
// path. For the settings file the password goes to secrets when it holds
// secrets (an empty one is removed there), and into the file when it does not
// or refuses it.
bool saveWindowState(const QString& path, const QList<ControlValue>& controls, QString* error = nullptr,
                     StateFile kind = StateFile::Settings);
bool saveWindowState(const QString& path, const QList<ControlValue>& controls, QString* error,
                     StateFile kind, SecretStore& secrets);

// Fills every control of the list from the parsed file. A missing key gives an
// empty text, no choice, index 0, and a ticked check box (unless the control
// says otherwise). File names without a
// folder are taken as relative to programFolder (which ends with "/").
void applyWindowState(const IniFile& ini, QList<ControlValue>& controls, const QString& programFolder);

// Reads the file at path into the list; a missing file restores the defaults
// above. A message file must exist and hold the "Defaults" section. Returns
// false, with "Unable to read " + path + the reason in *error, and leaves the
// list as it was when the file cannot be read.
//
// The SMTP password: a password in the file (an older file, or one written
// without a secret store) is taken; else the one secrets holds for the file's
// server and user; else a message file keeps the password the list held, and
// the settings file gives none.
bool loadWindowState(const QString& path, QList<ControlValue>& controls, const QString& programFolder,
                     QString* error = nullptr, bool messageFile = false);
bool loadWindowState(const QString& path, QList<ControlValue>& controls, const QString& programFolder,
                     QString* error, bool messageFile, SecretStore& secrets);

// The SMTP password the settings file at path stands for (in the file, or in
// secrets for its server and user); empty when there is none.
QString storedSmtpPassword(const QString& path, SecretStore& secrets);

// Replaces the file with bytes through a temporary file beside it; false, with
// the file as it was, when anything fails.
bool replaceFile(const QString& path, const QByteArray& bytes);

// The text shown when a window-state file cannot be written.
QString unableToWriteText(const QString& path);

} // namespace bv::app
