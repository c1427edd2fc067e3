#include "core/PlainText.h"

#include <QLabel>

namespace bv {

void showPlainText(QLabel* label, const QString& text)
{
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return {};
    // Tool tips have no text format of their own: markup it is, always, so
    // that nothing is left for Qt to guess, with the text escaped inside it.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

} // namespace bv
