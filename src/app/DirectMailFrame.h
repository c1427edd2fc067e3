#pragma once

#include <QFrame>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace bv {
class Dialogs;
}

namespace bv::app {

// The settings of direct delivery, embedded in the main window's page "Send
// Direct": the mode switch and, in a group enabled only while it is on, the
// DNS server, the greeting name and the spool folder.
class TfraDirectMail : public QFrame
{
    Q_OBJECT
public:
    TfraDirectMail(Dialogs& dialogs, const QString& programFolder, QWidget* parent = nullptr);

    // Trims blanks and ends the folder with a path separator; an empty text
    // stays empty.
    static QString normalisedFolder(const QString& text);
    void normaliseFolderField();
    // The program folder's own spool folder, ending with a separator.
    static QString defaultSpoolFolder(const QString& programFolder);
    // The folder the spool files go into: the field's, or the default one
    // while the field is empty (or holds the lone separator that an empty
    // field once became). The default folder is made when create is set.
    QString spoolFolder(bool create) const;

    // Enables the group to match the check box.
    void refreshDirectSend();

    QCheckBox* cbxDirect = nullptr;
    QGroupBox* gbDirectSend = nullptr;
    QLabel* lblDNS = nullptr;
    QLineEdit* txtDNS = nullptr;
    QLabel* lblHELO = nullptr;
    QLineEdit* txtHELO = nullptr;
    QLabel* lblEmailPath = nullptr;
    QLineEdit* txtEmailPath = nullptr;
    QToolButton* btnEmailPath = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooseFolder();

    Dialogs& m_dialogs;
    QString m_programFolder;
};

} // namespace bv::app
