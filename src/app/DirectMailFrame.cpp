#include "app/DirectMailFrame.h"

#include "core/Dialogs.h"

#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace bv::app {

TfraDirectMail::TfraDirectMail(Dialogs& dialogs, const QString& programFolder, QWidget* parent)
    : QFrame(parent), m_dialogs(dialogs), m_programFolder(programFolder)
{
    setObjectName(QStringLiteral("fraDirectMail1"));
    setAccessibleName(QStringLiteral("Direct Send"));

    cbxDirect = new QCheckBox(QStringLiteral("Send using Direct Connection"), this);
    cbxDirect->setObjectName(QStringLiteral("cbxDirect"));

    gbDirectSend = new QGroupBox(QStringLiteral("Direct Send"), this);
    gbDirectSend->setObjectName(QStringLiteral("gbDirectSend"));

    auto makeField = [this](const QString& caption, const char* labelName, const char* editName,
                            QLabel*& label, QLineEdit*& edit) {
        label = new QLabel(caption, gbDirectSend);
        label->setObjectName(QLatin1String(labelName));
        edit = new QLineEdit(gbDirectSend);
        edit->setObjectName(QLatin1String(editName));
        edit->setAccessibleName(caption);
        label->setBuddy(edit);
    };
    makeField(QStringLiteral("DNS Server IP Address"), "lblDNS", "txtDNS", lblDNS, txtDNS);
    makeField(QStringLiteral("Domain (For Identification)"), "lblHELO", "txtHELO", lblHELO, txtHELO);
    makeField(QStringLiteral("Email File Folder"), "lblEmailPath", "txtEmailPath", lblEmailPath, txtEmailPath);

    btnEmailPath = new QToolButton(gbDirectSend);
    btnEmailPath->setObjectName(QStringLiteral("btnEmailPath"));
    btnEmailPath->setText(QStringLiteral("..."));
    btnEmailPath->setAccessibleName(QStringLiteral("Choose Email File Folder"));
    btnEmailPath->setToolTip(QStringLiteral("Choose Email File Folder"));

    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(0, 0, 0, 0);
    folderRow->addWidget(txtEmailPath, 1);
    folderRow->addWidget(btnEmailPath);

    auto* form = new QFormLayout(gbDirectSend);
    form->addRow(lblDNS, txtDNS);
    form->addRow(lblHELO, txtHELO);
    form->addRow(lblEmailPath, folderRow);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(cbxDirect);
    layout->addWidget(gbDirectSend);

    connect(cbxDirect, &QCheckBox::toggled, this, &TfraDirectMail::refreshDirectSend);
    // Leaving the field normalises it, edited or not.
    txtEmailPath->installEventFilter(this);
    connect(btnEmailPath, &QToolButton::clicked, this, &TfraDirectMail::chooseFolder);
    txtEmailPath->setPlaceholderText(defaultSpoolFolder(m_programFolder));
    refreshDirectSend();
}

bool TfraDirectMail::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtEmailPath && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            normaliseFolderField();
    }
    return QFrame::eventFilter(watched, event);
}

QString TfraDirectMail::normalisedFolder(const QString& text)
{
    QString folder = text.trimmed();
    if (!folder.isEmpty() && !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString TfraDirectMail::defaultSpoolFolder(const QString& programFolder)
{
    return QDir::toNativeSeparators(QDir(programFolder).filePath(QStringLiteral("Spool"))) + QDir::separator();
}

QString TfraDirectMail::spoolFolder(bool create) const
{
    const QString field = normalisedFolder(txtEmailPath->text());
    // Never the root of the file system: that is where an empty field used to
    // put the spool files.
    if (!field.isEmpty() && field != QString(QDir::separator()))
        return field;
    const QString folder = defaultSpoolFolder(m_programFolder);
    if (create)
        QDir().mkpath(folder);
    return folder;
}

void TfraDirectMail::normaliseFolderField()
{
    const QString folder = normalisedFolder(txtEmailPath->text());
    if (folder != txtEmailPath->text())
        txtEmailPath->setText(folder);
}

void TfraDirectMail::refreshDirectSend()
{
    gbDirectSend->setEnabled(cbxDirect->isChecked());
}

void TfraDirectMail::chooseFolder()
{
    const QString current = txtEmailPath->text().trimmed();
    const QString start = !current.isEmpty() && QDir(current).exists() ? current : m_programFolder;
    const QString chosen = m_dialogs.chooseFolder(QStringLiteral("Open Folder"), start);
    if (chosen.isEmpty())
        return;
    txtEmailPath->setText(QDir::toNativeSeparators(chosen));
    normaliseFolderField();
}

} // namespace bv::app
