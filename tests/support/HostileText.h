#pragma once

#include <QString>

class QLabel;

namespace bv::test {

// Adds the column "text" and one row per string a recipient, a server or a
// returned message may carry that Qt would read as markup: an image of an
// endless file, tags, a link, entities, a long name.
void addHostileTextRows();

// What a label puts on screen: its text as written, or what Qt renders of it
// when it takes it for markup.
QString shownText(const QLabel* label);
// The same for a tool tip.
QString shownToolTip(const QString& toolTip);

} // namespace bv::test
