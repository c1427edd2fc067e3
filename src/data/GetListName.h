#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace bv::data {

// The list-name prompt. The caller sets the caption and ListName, shows it
// modally and reads ListName afterwards; closing without "OK" leaves ListName
// as the caller set it.
class TfrmGetListName : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(QString ListName READ listName WRITE setListName)
public:
    explicit TfrmGetListName(QWidget* parent = nullptr);

    QString listName() const { return m_listName; }
    void setListName(const QString& name) { m_listName = name; }

    QLineEdit* txtNewListName = nullptr;
    QPushButton* btnOK = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_listName;
};

} // namespace bv::data
