#include "app/QtDialogs.h"

#include "app/OpenFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>

namespace bv::app {

namespace {

// Icons and type names by the file's name alone. The stock provider opens a
// file whose name says nothing to learn its type from its first bytes; for
// the database and its journal beside it that costs the program its locks,
// since closing any handle on a file drops every lock the process holds on
// it (POSIX record locks), and another program could then take the database
// over while it is written.
class NameOnlyIconProvider : public QFileIconProvider
{
public:
    QIcon icon(const QFileInfo& info) const override
    {
        if (info.isDir())
            return QFileIconProvider::icon(QAbstractFileIconProvider::Folder);
        const QMimeType type = mimeType(info);
        const QIcon fallback = QFileIconProvider::icon(QAbstractFileIconProvider::File);
        return type.isDefault() ? fallback : QIcon::fromTheme(type.iconName(), fallback);
    }
    QString type(const QFileInfo& info) const override
    {
        if (info.isDir())
            return QFileIconProvider::type(info);
        return mimeType(info).comment();
    }

private:
    static QMimeType mimeType(const QFileInfo& info)
    {
        return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    }
};

QString caption()
{
    return QString::fromLatin1(kProgramCaption);
}

QMessageBox::Icon iconFor(Severity severity)
{
    switch (severity) {
    case Severity::Warning:
        return QMessageBox::Warning;
    case Severity::Error:
        return QMessageBox::Critical;
    case Severity::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

QString caseInsensitiveMask(const QString& mask)
{
    QString out;
    out.reserve(mask.size() * 4);
    for (const QChar c : mask) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (lower != upper)
            out += QLatin1Char('[') + lower + upper + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

QStringList qtNameFilters(const QString& filter)
{
    static const QRegularExpression separators(QStringLiteral("[;,\\s]+"));
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        QStringList masks;
        for (const QString& mask : parts.at(i + 1).split(separators, Qt::SkipEmptyParts))
            masks << (mask == QLatin1String("*.*") ? QStringLiteral("*") : caseInsensitiveMask(mask));
        if (masks.isEmpty())
            masks << QStringLiteral("*");
        masks.removeDuplicates();
        out << description + QStringLiteral(" (") + masks.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

void QtDialogs::message(const QString& text, Severity severity)
{
    QMessageBox box(iconFor(severity), caption(), text, QMessageBox::Ok, QApplication::activeWindow());
    // Texts carry file names and server replies, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

Answer QtDialogs::ask(const QString& text, Buttons buttons)
{
    QMessageBox::StandardButtons set;
    QMessageBox::StandardButton escape = QMessageBox::No;
    switch (buttons) {
    case Buttons::Ok:
        set = QMessageBox::Ok;
        escape = QMessageBox::Ok;
        break;
    case Buttons::OkCancel:
        set = QMessageBox::Ok | QMessageBox::Cancel;
        escape = QMessageBox::Cancel;
        break;
    case Buttons::YesNo:
        set = QMessageBox::Yes | QMessageBox::No;
        break;
    case Buttons::YesNoCancel:
        set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        escape = QMessageBox::Cancel;
        break;
    }
    QMessageBox box(QMessageBox::Question, caption(), text, set, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(escape);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

Answer QtDialogs::askSwitchable(const QString& text, bool& dontAskAgain)
{
    // A dialog of its own rather than a message box: the texts break their
    // lines themselves and must not be wrapped a second time.
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(caption());
    auto* icon = new QLabel(&dialog);
    const int side = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &dialog);
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, &dialog).pixmap(side, side));
    auto* label = new QLabel(text, &dialog);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* check = new QCheckBox(QStringLiteral("Don't ask me this question again."), &dialog);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* yes = buttons->addButton(QStringLiteral("&Yes"), QDialogButtonBox::YesRole);
    buttons->addButton(QStringLiteral("&No"), QDialogButtonBox::NoRole);
    yes->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::clicked, &dialog,
                     [&](QAbstractButton* b) { dialog.done(b == yes ? QDialog::Accepted : QDialog::Rejected); });

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(8);
    row->addWidget(label, 1);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(row);
    layout->addSpacing(6);
    layout->addWidget(check);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const bool answeredYes = dialog.exec() == QDialog::Accepted;
    dontAskAgain = check->isChecked();
    return answeredYes ? Answer::Yes : Answer::No;
}

QString QtDialogs::runFileDialog(const FileRequest& request, bool save)
{
    // The toolkit's own dialog, whose way of typing files is ours: a desktop's
    // native one may read the files it lists. The provider outlives the
    // dialog, whose model asks it from a thread of its own.
    NameOnlyIconProvider icons;
    QFileDialog dialog(QApplication::activeWindow(), request.title, request.initialDir);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&icons);
    dialog.setNameFilters(qtNameFilters(request.filter));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setDefaultSuffix(request.defaultExt);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

QString QtDialogs::openFile(const FileRequest& request)
{
    return runFileDialog(request, false);
}

QString QtDialogs::saveFile(const FileRequest& request)
{
    return runFileDialog(request, true);
}

QString QtDialogs::chooseFolder(const QString& title, const QString& startFolder)
{
    TdlgOpenFolder dialog(QApplication::activeWindow());
    dialog.setWindowTitle(title);
    dialog.setFolder(startFolder);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.folder();
}

bool QtDialogs::print(QPrinter& printer)
{
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    return dialog.exec() == QDialog::Accepted;
}

int QtDialogs::execModal(QDialog& dialog)
{
    return dialog.exec();
}

void QtDialogs::showError(const QString& text)
{
    message(text, Severity::Error);
}

} // namespace bv::app
