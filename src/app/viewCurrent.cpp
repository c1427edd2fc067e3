#include "app/viewCurrent.h"

#include "app/ProgramIcon.h"
#include "app/WebBrowserWithUI.h"
#include "core/Dialogs.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace bv::app {

TfrmViewCurrent::TfrmViewCurrent(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmViewCurrent"));
    setWindowTitle(QStringLiteral("Print Curent Message"));

    imgAllIcon = new QLabel(this);
    imgAllIcon->setObjectName(QStringLiteral("imgAllIcon"));
    imgAllIcon->setPixmap(programPixmap(32));
    imgAllIcon->setAccessibleName(QStringLiteral("Brevicast"));
    lblHeading = new QLabel(QStringLiteral("Print Current Message"), this);
    lblHeading->setObjectName(QStringLiteral("lblHeading"));
    QFont heading = lblHeading->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.4);
    lblHeading->setFont(heading);

    WebBrowserWithUI1 = new TWebBrowserWithUI(this);
    WebBrowserWithUI1->setObjectName(QStringLiteral("WebBrowserWithUI1"));
    WebBrowserWithUI1->setAccessibleName(QStringLiteral("Current message"));

    btnPrint = new QPushButton(QStringLiteral("Print"), this);
    btnPrint->setObjectName(QStringLiteral("btnPrint"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    connect(btnPrint, &QPushButton::clicked, this, &TfrmViewCurrent::print);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto* head = new QHBoxLayout;
    head->addWidget(imgAllIcon);
    head->addWidget(lblHeading, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnPrint);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(WebBrowserWithUI1, 1);
    layout->addLayout(buttons);
    resize(720, 640);
}

void TfrmViewCurrent::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    WebBrowserWithUI1->Navigate(QUrl::fromLocalFile(m_path));
}

void TfrmViewCurrent::print()
{
    // The page gives its sizes in pixels, which the document measures in
    // dots of the device it prints to: at the screen's resolution they print
    // as large as they show. Text stays vector; images keep their own pixels.
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setDocName(windowTitle());
    if (!m_dialogs.print(printer))
        return;
    QString reason;
    if (!WebBrowserWithUI1->printPage(printer, &reason)) {
        const QString where = printer.outputFormat() == QPrinter::PdfFormat
                                  ? QDir::toNativeSeparators(printer.outputFileName())
                                  : printer.printerName();
        m_dialogs.showError(
            QStringLiteral("The message could not be printed to %1: %2").arg(where, reason));
    }
}

} // namespace bv::app
