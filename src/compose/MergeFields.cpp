#include "MergeFields.h"

#include <QRandomGenerator>
#include <QUrl>

#include <utility>
#include <vector>

namespace bv::compose {

namespace {

void replaceFirst(QString& text, const QString& token, const QString& value)
{
    const qsizetype at = text.indexOf(token);
    if (at >= 0)
        text.replace(at, token.size(), value);
}

QString mergeNames(const QString& text, const QString& salutation, const QString& firstName,
                   const QString& lastName)
{
    QString merged = text;
    replaceFirst(merged, kFirstNameToken, firstName);
    replaceFirst(merged, kLastNameToken, lastName);
    replaceFirst(merged, kSalutationToken, salutation);
    return merged;
}

struct ImageToken
{
    qsizetype start = -1; // of "{{-img:"
    QString path;
    QString token;
};

// The first complete image token at or after from; start -1 when the next
// "{{-img:" has no "-}}" after it, or there is none.
ImageToken nextImageToken(const QString& text, qsizetype from)
{
    ImageToken t;
    const qsizetype open = text.indexOf(kImageTokenOpen, from);
    if (open < 0)
        return t;
    const qsizetype pathStart = open + kImageTokenOpen.size();
    const qsizetype close = text.indexOf(kImageTokenClose, pathStart);
    if (close < 0)
        return t;
    t.start = open;
    t.path = text.mid(pathStart, close - pathStart);
    t.token = text.mid(open, close + kImageTokenClose.size() - open);
    return t;
}

// The name as content-ID and "cid:" address: a header carries no 8-bit bytes,
// and a quote or angle bracket would end the element or the ID early.
QString contentIdName(const QString& fileName)
{
    QString name = fileName;
    for (QChar& c : name)
        if (c.unicode() > 126 || c.unicode() < 32 || c == QLatin1Char('"') || c == QLatin1Char('<')
            || c == QLatin1Char('>'))
            c = QLatin1Char('_');
    return name;
}

bool nameTaken(const QStringList& contentIds, const QString& name)
{
    const QString id = QLatin1Char('<') + name + QLatin1Char('>');
    for (const QString& taken : contentIds)
        if (taken.compare(id, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString previewAddress(const QString& path)
{
    if (path.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    QString address = path;
    const qsizetype backslash = address.indexOf(QLatin1Char('\\'));
    if (backslash >= 0)
        address[backslash] = QLatin1Char('/');
    return QStringLiteral("file:///") + address;
}

} // namespace

QString fileNamePart(const QString& path)
{
    qsizetype i = path.size();
    while (i > 0) {
        const QChar c = path.at(i - 1);
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':'))
            break;
        --i;
    }
    return path.mid(i);
}

QString MergeFields(const QString& text, const QString& salutation, const QString& firstName,
                    const QString& lastName)
{
    return mergeNames(text, salutation, firstName, lastName);
}

QString MergeFields(const QString& text, const QString& salutation, const QString& firstName,
                    const QString& lastName, QStringList& paths, QStringList& contentIds)
{
    // Image tokens are found in the text as the user wrote it, before any name
    // is merged: a recipient's values are text, and a name such as
    // "{{-img:/home/user/.ssh/id_rsa-}}" must never make us attach that file.
    // The names are then merged into the text between the tokens only.
    struct Segment
    {
        QString text;
        bool image = false;
    };
    std::vector<Segment> segments;
    qsizetype from = 0;
    for (;;) {
        const ImageToken t = nextImageToken(text, from);
        if (t.start < 0)
            break;
        segments.push_back({text.mid(from, t.start - from), false});
        segments.push_back({t.path, true});
        from = t.start + t.token.size();
    }
    segments.push_back({text.mid(from), false});

    for (const auto& [token, value] : {std::pair{kFirstNameToken, firstName},
                                       std::pair{kLastNameToken, lastName},
                                       std::pair{kSalutationToken, salutation}}) {
        for (Segment& s : segments) {
            const qsizetype at = s.image ? -1 : s.text.indexOf(token);
            if (at >= 0) {
                s.text.replace(at, token.size(), value);
                break;
            }
        }
    }

    QString merged;
    for (const Segment& s : segments) {
        if (!s.image) {
            merged += s.text;
            continue;
        }
        // Paths are compared exactly: names differing in letter case are two
        // files here.
        const qsizetype index = paths.indexOf(s.text);
        QString contentId;
        if (index >= 0 && index < contentIds.size()) {
            contentId = contentIds.at(index);
        } else {
            const QString base = contentIdName(fileNamePart(s.text));
            QString name = base;
            for (int n = 2; nameTaken(contentIds, name); ++n)
                name = QString::number(n) + base;
            contentId = QLatin1Char('<') + name + QLatin1Char('>');
            paths.append(s.text);
            contentIds.append(contentId);
        }
        merged += QStringLiteral("<IMG SRC=\"cid:") + contentId.mid(1, contentId.size() - 2)
                  + QStringLiteral("\">");
    }
    return merged;
}

QString RenderPreview(const QString& html, QStringList* images)
{
    QString rendered = mergeNames(html, QStringLiteral("Mr."), QStringLiteral("Tobias"),
                                  QStringLiteral("Wrenfield"));
    qsizetype from = 0;
    for (;;) {
        const ImageToken t = nextImageToken(rendered, from);
        if (t.start < 0)
            break;
        const QString address = previewAddress(t.path);
        if (images)
            images->append(address);
        const QString element = QStringLiteral("<IMG SRC=\"") + address + QStringLiteral("\">");
        rendered.replace(t.token, element);
        from = t.start + element.size();
    }
    return rendered;
}

const QStringList& expletiveWords()
{
    static const QStringList words = {
        QStringLiteral("Gosh"),       QStringLiteral("Darn"),
        QStringLiteral("FooBar"),     QStringLiteral("**Expletive Deleted**"),
        QStringLiteral("Fooey"),      QStringLiteral("DagNabit"),
        QStringLiteral("CrumPuppies"), QStringLiteral("Shoooot"),
        QStringLiteral("DumpTruck"),  QStringLiteral("Heck"),
        QStringLiteral("Home Alone Part 3"),
    };
    return words;
}

QString drawExpletive(QRandomGenerator& random)
{
    const QStringList& words = expletiveWords();
    return QLatin1Char(' ') + words.at(random.bounded(int(words.size())));
}

QString insertText(InsertAction action, const QString& imagePath, QRandomGenerator* random)
{
    switch (action) {
    case InsertAction::FirstName:
        return kFirstNameToken;
    case InsertAction::LastName:
        return kLastNameToken;
    case InsertAction::Salutation:
        return kSalutationToken;
    case InsertAction::Image:
        return kImageTokenOpen + imagePath + kImageTokenClose;
    case InsertAction::Expletive:
        return drawExpletive(random ? *random : *QRandomGenerator::global());
    }
    return QString();
}

QStringList emptyHtmlLines()
{
    return {QStringLiteral("<HTML>"), QStringLiteral("<BODY>"), QString(), QStringLiteral("</BODY>"),
            QStringLiteral("</HTML>")};
}

} // namespace bv::compose
