#pragma once

#include <QDialog>

class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace bv::app {

// "Open Folder": a tree of the computer's folders. OK hands back the chosen
// folder, Cancel nothing.
class TdlgOpenFolder : public QDialog
{
    Q_OBJECT
public:
    explicit TdlgOpenFolder(QWidget* parent = nullptr);

    // Opens the tree at folder and selects it, when it exists.
    void setFolder(const QString& folder);
    // The chosen folder's path; empty after Cancel or while none is chosen.
    QString folder() const;

    QTreeView* tvFolders = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    QFileSystemModel* m_model = nullptr;
};

} // namespace bv::app
