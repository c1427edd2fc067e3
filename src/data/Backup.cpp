#include "Backup.h"

#include "Database.h"
#include "core/Clock.h"
#include "core/Dialogs.h"

#include <QDir>
#include <QFileInfo>

namespace bv::data {

namespace {

// The engine's steps a restore may take to copy the rows of backup files of a
// given size: rows as small as rows can be need about six per byte.
constexpr qint64 kCopyStepsBase = 1'000'000;
constexpr qint64 kCopyStepsPerByte = 100;

// A name that stays one folder inside Backups.
bool isPlainFolderName(const QString& name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

QString tableFile(const QString& folder, const QString& table)
{
    return folder + QLatin1Char('/') + table + QStringLiteral(".adt");
}

// A table file in statement text: in double quotes, any double quote inside doubled.
QString asTableInStatement(const QString& path)
{
    QString body = path;
    body.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + body + QLatin1Char('"');
}

QString errorText(const std::exception& e)
{
    if (const auto* db = dynamic_cast<const DbError*>(&e))
        return db->message();
    return QString::fromUtf8(e.what());
}

} // namespace

QString backupTimestamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("MM-dd-yyyy 'at' MM.dd.HH.mm.ss"));
}

QString backupsFolder(const QString& programFolder)
{
    return programFolder + QStringLiteral("Backups");
}

QString backupFolder(const QString& programFolder, const QString& name)
{
    return backupsFolder(programFolder) + QLatin1Char('/') + name;
}

QStringList backedUpTables()
{
    return {QStringLiteral("RecipientList"), QStringLiteral("ExclusionList"), QStringLiteral("Lists")};
}

void ensureBackupsFolder(const QString& programFolder)
{
    const QString root = backupsFolder(programFolder);
    if (!QFileInfo(root).isDir() && !QDir().mkpath(root))
        throw std::runtime_error("Error creating Backups folder.");
}

QString createNewBackupFolder(const QString& programFolder, const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("You have not entered a Backup Folder Name.  Please try again.");
    const QString folder = backupFolder(programFolder, name);
    if (isPlainFolderName(name) && QFileInfo::exists(folder))
        return QStringLiteral("This folder already exists.  Please try again.");
    if (!isPlainFolderName(name) || !QDir().mkdir(folder))
        return QStringLiteral(
            "The backup folder you entered cannot be created, please check the name and try again.");
    return {};
}

BackupOutcome CreateBackup(Connection& data, const QString& programFolder, const QString& folderName)
{
    const QString failed = QStringLiteral("Error while backing up Data: ");
    try {
        ensureBackupsFolder(programFolder);
    } catch (const std::exception& e) {
        return {false, failed + errorText(e)};
    }
    const QString folder = backupFolder(programFolder, folderName);
    if (!isPlainFolderName(folderName) || (!QFileInfo(folder).isDir() && !QDir().mkdir(folder)))
        return {false, failed + QStringLiteral("Error creating designated Backup folder \"%1\"").arg(folder)};
    QList<QPair<QString, QString>> copies;
    for (const QString& table : backedUpTables())
        copies.append({table, tableFile(folder, table)});
    try {
        data.copyTablesToFiles(copies);
    } catch (const std::exception& e) {
        return {false, failed + errorText(e)};
    }
    return {true, {}};
}

BackupOutcome RestoreBackup(Connection& data, const QString& programFolder, const QString& folderName,
                            const std::function<void(int done)>& afterStatement)
{
    const QString folder = backupFolder(programFolder, folderName);
    QStringList files;
    QStringList statements;
    for (const QString& table : backedUpTables()) {
        files << tableFile(folder, table);
        statements << QStringLiteral("delete from ") + table;
    }
    for (const QString& table : backedUpTables())
        statements << QStringLiteral("insert into %1 select * from %2")
                          .arg(table, asTableInStatement(tableFile(folder, table)));
    qint64 bytes = 0;
    for (const QString& file : std::as_const(files))
        bytes += QFileInfo(file).size();
    std::optional<WorkLimit> limit;
    try {
        // All six or none: emptied tables must never be what a failure leaves.
        // The files are checked when the transaction takes them, before the
        // lists are touched.
        Transaction transaction(data, files);
        int done = 0;
        for (const QString& statement : std::as_const(statements)) {
            // Rows of plain tables cost work in proportion to their files;
            // anything that slipped past the checks is stopped all the same.
            if (done == backedUpTables().size())
                limit.emplace(data, kCopyStepsBase + kCopyStepsPerByte * bytes);
            data.execute(statement);
            if (afterStatement)
                afterStatement(++done);
        }
        limit.reset();
        transaction.commit();
    } catch (const std::exception& e) {
        const QString why =
            limit && limit->exceeded()
                ? QStringLiteral("The backup \"%1\" is damaged: its rows take more work to copy "
                                 "than files of their size can hold.")
                      .arg(folder)
                : errorText(e);
        limit.reset();
        return {false, QStringLiteral("Restore Encountered Errors. Message: ") + why};
    }
    return {true, {}};
}

std::optional<QString> BackupCommands::askFolder(BackupFolderPrompt::Mode mode, const QString& initialName,
                                                const QString& cancelled)
{
    std::optional<QString> name;
    try {
        name = m.prompt.askFolder(mode, initialName);
    } catch (const std::exception& e) {
        m.dialogs.message(errorText(e), Severity::Error);
        return std::nullopt;
    }
    if (!name)
        m.dialogs.message(cancelled);
    return name;
}

void BackupCommands::BackupLists()
{
    const std::optional<QString> name = askFolder(BackupFolderPrompt::Mode::Backup,
                                                  backupTimestamp(m.clock.now()), QStringLiteral("Backup Cancelled."));
    if (!name)
        return;
    const BackupOutcome made = CreateBackup(m.data, m.programFolder, *name);
    if (made.ok)
        m.dialogs.message(QStringLiteral("Backup created successfully."));
    else
        m.dialogs.message(made.error, Severity::Error);
}

QString BackupCommands::safetyBackupName() const
{
    const QString base = QStringLiteral("BEFORE_RESTORE_") + backupTimestamp(m.clock.now());
    // A second restore within the same second must not overwrite the first
    // one's safety copy, the only copy of the lists as they were.
    QString name = base;
    for (int n = 2; QFileInfo::exists(backupFolder(m.programFolder, name)); ++n)
        name = base + QStringLiteral("_%1").arg(n);
    return name;
}

void BackupCommands::RestoreLists()
{
    if (!QFileInfo(backupsFolder(m.programFolder)).isDir()) {
        m.dialogs.message(QStringLiteral("No Backups Exist"));
        return;
    }
    const std::optional<QString> name =
        askFolder(BackupFolderPrompt::Mode::Restore, QString(), QStringLiteral("Restore Cancelled."));
    if (!name)
        return;
    const BackupOutcome safety = CreateBackup(m.data, m.programFolder, safetyBackupName());
    if (!safety.ok) {
        m.dialogs.message(safety.error, Severity::Error);
        return;
    }
    const BackupOutcome restored = RestoreBackup(m.data, m.programFolder, *name);
    if (!restored.ok)
        m.dialogs.message(restored.error, Severity::Error);
    if (m.reopenWindow)
        m.reopenWindow();
    if (restored.ok)
        m.dialogs.message(QStringLiteral("Backup restored successfully."));
}

} // namespace bv::data
