#pragma once

#include <QDate>
#include <QString>

namespace bv::app {

// What the printed summary of the current message shows.
struct CurrentMessage
{
    QString sender; // the From text: name, blank, address in angle brackets
    QString subject;
    QString plainText;
    QString html;
};

// The preview pages of the program folder, tried in turn: "__TM1__.htm" to
// "__TM9__.htm". The on-screen HTML preview shares them.
inline constexpr int kPreviewPages = 9;
QString previewPageName(int n);

// The summary page: a grey header with date, sender and subject, the plain
// body a line at a time (its markup acts as markup), then the HTML body; both
// bodies show the sample names and image files of the on-screen preview.
// Lines end with CR LF. images, when given, receives the file address of
// every image the page shows.
QString currentMessagePage(const CurrentMessage& message, const QDate& today,
                           QStringList* images = nullptr);

// Writes the page into the first preview page that can be written. Returns
// its path; empty, with why the last one failed in *error, when none could.
QString writeCurrentMessagePage(const QString& programFolder, const QString& page, QString* error);

} // namespace bv::app
