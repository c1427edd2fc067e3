#pragma once

#include <QString>

class QLabel;

namespace bv {

// Text the program did not write itself (recipients' values, server replies,
// returned messages, update-site files) reaches the screen through these.
// Qt reads a label's or a tool tip's text as markup whenever it looks like
// markup, and markup loads whatever file its image elements name.

// Shows text on the label as the characters it holds.
void showPlainText(QLabel* label, const QString& text);

// A tool tip that shows text as the characters it holds, its blanks and line
// breaks kept; empty for an empty text, so that no tip appears.
QString plainToolTip(const QString& text);

} // namespace bv
