#include "HostileText.h"

#include <QLabel>
#include <QTextDocumentFragment>
#include <QtTest>

namespace bv::test {

void addHostileTextRows()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("image of an endless file") << QStringLiteral("<img src=file:///dev/zero>");
    QTest::newRow("tags") << QStringLiteral("<b>x</b>");
    QTest::newRow("link") << QStringLiteral("<a href=file:///etc/passwd>mine</a>");
    QTest::newRow("entities") << QStringLiteral("&amp; &lt;b&gt;");
    QTest::newRow("long name") << QStringLiteral("<i>") + QString(3000, QLatin1Char('x')) +
                                      QStringLiteral("</i>");
}

namespace {

QString rendered(const QString& markup)
{
    // Line breaks of markup come out as line separators.
    return QTextDocumentFragment::fromHtml(markup).toPlainText().replace(QChar::LineSeparator,
                                                                        QLatin1Char('\n'));
}

} // namespace

QString shownText(const QLabel* label)
{
    const Qt::TextFormat format = label->textFormat();
    const bool markup = format == Qt::RichText ||
                        (format != Qt::PlainText && Qt::mightBeRichText(label->text()));
    return markup ? rendered(label->text()) : label->text();
}

QString shownToolTip(const QString& toolTip)
{
    return Qt::mightBeRichText(toolTip) ? rendered(toolTip) : toolTip;
}

} // namespace bv::test
