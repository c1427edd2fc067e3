#pragma once

#include <QString>
#include <QStringList>

class QRandomGenerator;

namespace bv::compose {

inline const QString kFirstNameToken = QStringLiteral("{{-firstname-}}");
inline const QString kLastNameToken = QStringLiteral("{{-lastname-}}");
inline const QString kSalutationToken = QStringLiteral("{{-salutation-}}");
inline const QString kImageTokenOpen = QStringLiteral("{{-img:");
inline const QString kImageTokenClose = QStringLiteral("-}}");

// The recipient's values in place of the first occurrence of each name token.
// Image tokens are left as typed.
QString MergeFields(const QString& text, const QString& salutation, const QString& firstName,
                    const QString& lastName);

// The same, and every image token of text as written becomes an element
// showing an inline part (a token that a merged value brings in stays text):
// paths receives each new path (compared exactly), contentIds the content-ID
// ("<name>") at the same index. An unterminated "{{-img:" and everything after
// it stay as typed.
QString MergeFields(const QString& text, const QString& salutation, const QString& firstName,
                    const QString& lastName, QStringList& paths, QStringList& contentIds);

// The HTML body as the on-screen preview shows it: sample names, and images
// addressed by file URL. images, when given, receives each address written.
QString RenderPreview(const QString& html, QStringList* images = nullptr);

// The text after the last "/", "\" or ":" of a path.
QString fileNamePart(const QString& path);

// What the Insert menu's actions put into an editor.
enum class InsertAction { FirstName, LastName, Salutation, Image, Expletive };

// The eleven expletive words, in their fixed order.
const QStringList& expletiveWords();
// A space and one of the words, each equally likely.
QString drawExpletive(QRandomGenerator& random);
// The text of an insert action; imagePath is used by Image, random by
// Expletive (the global generator when none is given).
QString insertText(InsertAction action, const QString& imagePath = QString(),
                   QRandomGenerator* random = nullptr);

// The five lines the HTML editor's Clear button leaves.
QStringList emptyHtmlLines();

} // namespace bv::compose
