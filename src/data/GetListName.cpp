#include "GetListName.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace bv::data {

TfrmGetListName::TfrmGetListName(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmGetListName"));
    setWindowTitle(QStringLiteral("List Name"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("New List Name"), this);
    label->setObjectName(QStringLiteral("Label1"));
    txtNewListName = new QLineEdit(this);
    txtNewListName->setObjectName(QStringLiteral("txtNewListName"));
    txtNewListName->setMaxLength(20);
    txtNewListName->setAccessibleName(label->text());
    label->setBuddy(txtNewListName);
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnOK->setAccessibleName(QStringLiteral("OK"));
    layout->addWidget(label);
    layout->addWidget(txtNewListName);
    layout->addWidget(btnOK, 0, Qt::AlignRight);
    connect(btnOK, &QPushButton::clicked, this, [this] {
        m_listName = txtNewListName->text();
        accept();
    });
    // Wide enough for the caption the window manager shows with it.
    setMinimumWidth(360);
}

void TfrmGetListName::showEvent(QShowEvent* event)
{
    txtNewListName->setText(m_listName);
    txtNewListName->selectAll();
    txtNewListName->setFocus();
    QDialog::showEvent(event);
}

} // namespace bv::data
