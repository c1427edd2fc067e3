#include "app/OpenFolder.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace bv::app {

TdlgOpenFolder::TdlgOpenFolder(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgOpenFolder"));
    setWindowTitle(QStringLiteral("Open Folder"));

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setRootPath(QDir::rootPath());

    tvFolders = new QTreeView(this);
    tvFolders->setObjectName(QStringLiteral("tvFolders"));
    tvFolders->setAccessibleName(QStringLiteral("Folders"));
    tvFolders->setModel(m_model);
    tvFolders->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        tvFolders->hideColumn(column);
    tvFolders->setSelectionMode(QAbstractItemView::SingleSelection);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tvFolders, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        tvFolders->setExpanded(index, !tvFolders->isExpanded(index));
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tvFolders, 1);
    layout->addLayout(buttons);
    resize(360, 420);
}

void TdlgOpenFolder::setFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    if (path.isEmpty() || !QDir(path).exists())
        return;
    const QModelIndex index = m_model->index(path);
    if (!index.isValid())
        return;
    tvFolders->setCurrentIndex(index);
    tvFolders->scrollTo(index, QAbstractItemView::PositionAtCenter);
    tvFolders->expand(index);
}

QString TdlgOpenFolder::folder() const
{
    if (result() != QDialog::Accepted)
        return {};
    const QModelIndex index = tvFolders->currentIndex();
    if (!index.isValid())
        return {};
    return QDir::toNativeSeparators(m_model->filePath(index));
}

} // namespace bv::app
