#pragma once

#include "data/Backup.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QValidator;

namespace bv {
class Dialogs;
}

namespace bv::data {

// The backup folder prompt: the existing backups and a name box. In backup
// mode "OK" creates the named folder; in restore mode it takes the name as
// it stands. FolderName holds the name after "OK".
class TfrmGetBackupFolder : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(QString FolderName READ folderName)
public:
    using Mode = BackupFolderPrompt::Mode;

    // Creates Backups when it is missing; throws std::runtime_error when it cannot.
    TfrmGetBackupFolder(Mode mode, const QString& programFolder, Dialogs& dialogs, QWidget* parent = nullptr);

    QString folderName() const { return m_folderName; }

    // The most characters the user can type into txtNewFolderName.
    static constexpr int MaxTyped = 20;
    // Puts a name into the box; unlike typing, it may be longer.
    void setNewFolderName(const QString& name);

    QLabel* lblFolderName = nullptr;
    QLineEdit* txtNewFolderName = nullptr;
    QListWidget* lstExistingBackups = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void okPressed();

    Mode m_mode;
    QString m_programFolder;
    Dialogs& m_dialogs;
    QString m_folderName;
    QValidator* m_typedLength = nullptr;
};

// The prompt the backup commands use: a new window for each question.
class GetBackupFolderPrompt : public BackupFolderPrompt
{
public:
    GetBackupFolderPrompt(QString programFolder, Dialogs& dialogs, QWidget* parent = nullptr)
        : m_programFolder(std::move(programFolder)), m_dialogs(dialogs), m_parent(parent)
    {
    }
    std::optional<QString> askFolder(Mode mode, const QString& initialName) override;

private:
    QString m_programFolder;
    Dialogs& m_dialogs;
    QWidget* m_parent;
};

} // namespace bv::data
