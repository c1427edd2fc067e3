#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace bv {
class Dialogs;
}

namespace bv::app {

class TWebBrowserWithUI;

// The printable summary of the current message, with Print and Close. Made
// once and shown again for each print.
class TfrmViewCurrent : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmViewCurrent(Dialogs& dialogs, QWidget* parent = nullptr);

    // The page shown when the window opens.
    void setFileAddress(const QString& path) { m_path = path; }
    QString fileAddress() const { return m_path; }

    // "Print": the print dialog, then the page on the printer or PDF file
    // chosen there.
    void print();

    QLabel* imgAllIcon = nullptr;
    QLabel* lblHeading = nullptr;
    TWebBrowserWithUI* WebBrowserWithUI1 = nullptr;
    QPushButton* btnPrint = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Dialogs& m_dialogs;
    QString m_path;
};

} // namespace bv::app
