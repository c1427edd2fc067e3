#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace bv {
class Clock;
class Dialogs;
} // namespace bv

namespace bv::data {

class Connection;

// "mm-dd-yyyy at mm.dd.hh.nn.ss": the default name of a backup.
QString backupTimestamp(const QDateTime& when);

// The folder "Backups" in the program folder (which ends with "/"), and one
// backup folder inside it.
QString backupsFolder(const QString& programFolder);
QString backupFolder(const QString& programFolder, const QString& name);

// The three tables a backup holds, in the order they are copied.
QStringList backedUpTables();

// Makes Backups when it is missing; throws std::runtime_error with
// "Error creating Backups folder." when it cannot.
void ensureBackupsFolder(const QString& programFolder);

// Backup-mode "OK" of the folder prompt: creates the new backup folder, or
// gives the refusal to show (and creates nothing).
QString createNewBackupFolder(const QString& programFolder, const QString& name);

struct BackupOutcome
{
    bool ok = false;
    QString error; // the text to show when !ok
};

// Copies RecipientList, ExclusionList and Lists, every row, into the backup
// folder of that name, creating Backups and the folder as needed.
BackupOutcome CreateBackup(Connection& data, const QString& programFolder, const QString& folderName);

// Replaces the rows of the three tables by those of the backup, in one
// transaction: a missing or unreadable file leaves every list as it was.
// afterStatement, when given, is called after each of the six statements
// with the number done so far.
BackupOutcome RestoreBackup(Connection& data, const QString& programFolder, const QString& folderName,
                            const std::function<void(int done)>& afterStatement = {});

// The folder prompt as the commands see it.
class BackupFolderPrompt
{
public:
    enum class Mode { Backup, Restore };
    virtual ~BackupFolderPrompt() = default;
    // The folder name chosen, or nothing when the user cancelled. Throws
    // std::exception on an error while the prompt is open.
    virtual std::optional<QString> askFolder(Mode mode, const QString& initialName) = 0;
};

// "Backup Lists" and "Restore Lists" of the recipient list window's Lists menu.
class BackupCommands
{
public:
    struct Parts
    {
        Connection& data;
        QString programFolder; // ends with "/"
        Clock& clock;
        Dialogs& dialogs;
        BackupFolderPrompt& prompt;
        // The recipient list window's opening steps: refill the picker, no list.
        std::function<void()> reopenWindow;
    };

    explicit BackupCommands(Parts parts) : m(std::move(parts)) {}

    void BackupLists();
    void RestoreLists();

private:
    // The prompt's answer; nothing after an error or a cancel, both shown.
    std::optional<QString> askFolder(BackupFolderPrompt::Mode mode, const QString& initialName,
                                     const QString& cancelled);
    QString safetyBackupName() const;

    Parts m;
};

} // namespace bv::data
