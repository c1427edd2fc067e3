#include "app/CurrentMessage.h"

#include "compose/MergeFields.h"
#include "core/TextFile.h"

#include <QDir>
#include <QStringList>

namespace bv::app {

namespace {

const QString kSectionTable = QStringLiteral("<table width=\"100%\"  bgcolor=\"#dddddd\"><tr><td>");

QString replaceFirst(QString text, QChar what, const QString& with)
{
    const qsizetype at = text.indexOf(what);
    if (at >= 0)
        text.replace(at, 1, with);
    return text;
}

} // namespace

QString previewPageName(int n)
{
    return QStringLiteral("__TM") + QString::number(n) + QStringLiteral("__.htm");
}

QString currentMessagePage(const CurrentMessage& message, const QDate& today, QStringList* images)
{
    const QString sender =
        replaceFirst(replaceFirst(message.sender, QLatin1Char('<'), QStringLiteral("&lt;")),
                     QLatin1Char('>'), QStringLiteral("&gt;"));
    QStringList lines{
        QStringLiteral(
            "<html><body style=\"font-family: verdana; font-size:12px;\"><table width=\"100%\" "
            "bgcolor=\"#c0c0c0\"><tr><td>"),
        QStringLiteral("<hr>"),
        QStringLiteral("<b>Date: ") + today.toString(QStringLiteral("MM/dd/yyyy")),
        QStringLiteral("<br>From: ") + sender,
        QStringLiteral("<br>Subject: ") + message.subject,
        QStringLiteral("</b><br><hr>"),
        QStringLiteral("</td></tr></table><br>"),
        kSectionTable,
        QStringLiteral("<hr>"),
        QStringLiteral("<b>Plain Text Section</b>"),
        QStringLiteral("<hr>"),
        QStringLiteral("</td></tr></table>"),
    };
    for (const QString& line : splitLines(message.plainText))
        lines << line + QStringLiteral("<br>");
    lines = splitLines(compose::RenderPreview(QString::fromUtf8(joinCrLf(lines)), images));
    lines << QStringLiteral("<hr><br>") << kSectionTable << QStringLiteral("<hr>")
          << QStringLiteral("<b>HTML Section</b>") << QStringLiteral("<hr>")
          << QStringLiteral("</td></tr></table>");
    lines << splitLines(compose::RenderPreview(message.html, images));
    return QString::fromUtf8(joinCrLf(lines));
}

QString writeCurrentMessagePage(const QString& programFolder, const QString& page, QString* error)
{
    const QByteArray bytes = page.toUtf8();
    for (int n = 1; n <= kPreviewPages; ++n) {
        const QString path = programFolder + previewPageName(n);
        QString reason;
        if (replaceFileContents(path, bytes, &reason))
            return path;
        if (error)
            *error = QStringLiteral("Cannot create file \"%1\". %2")
                         .arg(QDir::toNativeSeparators(path), reason);
    }
    return {};
}

} // namespace bv::app
