#include "GetBackupFolder.h"

#include "core/Dialogs.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QValidator>
#include <QVBoxLayout>

namespace bv::data {

namespace {

// The user may type at most max characters, yet a longer name the program
// puts into the box (the 28-character default) stays whole and can be
// shortened; a length limit on the box would cut it.
class TypedLength : public QValidator
{
public:
    TypedLength(QLineEdit* edit, int max) : QValidator(edit), m_max(max)
    {
        // Called after each accepted change, typed or set by the program.
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_current = text.size(); });
    }
    // Lets the program put a longer name into the box.
    void allow(qsizetype length) { m_current = qMax(m_current, length); }
    State validate(QString& input, int&) const override
    {
        return input.size() <= qMax(m_max, m_current) ? Acceptable : Invalid;
    }

private:
    int m_max;
    qsizetype m_current = 0;
};

} // namespace

TfrmGetBackupFolder::TfrmGetBackupFolder(Mode mode, const QString& programFolder, Dialogs& dialogs,
                                         QWidget* parent)
    : QDialog(parent), m_mode(mode), m_programFolder(programFolder), m_dialogs(dialogs)
{
    ensureBackupsFolder(programFolder);
    const bool backup = mode == Mode::Backup;
    setObjectName(QStringLiteral("frmGetBackupFolder"));
    setWindowTitle(backup ? QStringLiteral("Backup Folder Name") : QStringLiteral("Restore Folder Name"));

    auto* heading = new QLabel(QStringLiteral("   Existing Backups"), this);
    heading->setObjectName(QStringLiteral("lblExistingBackups"));
    lstExistingBackups = new QListWidget(this);
    lstExistingBackups->setObjectName(QStringLiteral("lstExistingBackups"));
    lstExistingBackups->setAccessibleName(heading->text().trimmed());
    heading->setBuddy(lstExistingBackups);
    lstExistingBackups->addItems(QDir(backupsFolder(programFolder))
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase));

    lblFolderName = new QLabel(backup ? QStringLiteral("New Backup Folder Name") : QStringLiteral("Restore Folder"),
                               this);
    lblFolderName->setObjectName(QStringLiteral("lblFolderName"));
    txtNewFolderName = new QLineEdit(this);
    txtNewFolderName->setObjectName(QStringLiteral("txtNewFolderName"));
    m_typedLength = new TypedLength(txtNewFolderName, MaxTyped);
    txtNewFolderName->setValidator(m_typedLength);
    lblFolderName->setBuddy(txtNewFolderName);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(lstExistingBackups);
    layout->addWidget(lblFolderName);
    layout->addWidget(txtNewFolderName);
    layout->addLayout(buttons);

    if (!backup)
        connect(lstExistingBackups, &QListWidget::currentTextChanged, txtNewFolderName, &QLineEdit::setText);
    connect(btnOK, &QPushButton::clicked, this, &TfrmGetBackupFolder::okPressed);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(420); // room for the title and a dated backup name
}

void TfrmGetBackupFolder::setNewFolderName(const QString& name)
{
    static_cast<TypedLength*>(m_typedLength)->allow(name.size());
    txtNewFolderName->setText(name);
}

void TfrmGetBackupFolder::okPressed()
{
    const QString name = txtNewFolderName->text();
    if (m_mode == Mode::Backup) {
        const QString refusal = createNewBackupFolder(m_programFolder, name);
        if (!refusal.isEmpty()) {
            m_dialogs.message(refusal, Severity::Warning);
            return;
        }
    }
    m_folderName = name;
    accept();
}

std::optional<QString> GetBackupFolderPrompt::askFolder(Mode mode, const QString& initialName)
{
    TfrmGetBackupFolder prompt(mode, m_programFolder, m_dialogs, m_parent);
    if (mode == Mode::Backup)
        prompt.setNewFolderName(initialName);
    if (m_dialogs.execModal(prompt) != QDialog::Accepted)
        return std::nullopt;
    return prompt.folderName();
}

} // namespace bv::data
