#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace bv::test {

// What an independent parser made of a message file.
struct ParsedEntity
{
    QString type; // "multipart/related"
    QString charset;
    QString contentId; // without the angle brackets
    QString fileName;
    QByteArray content; // decoded; leaves only
    QList<ParsedEntity> children;
};

struct ParsedMessage
{
    QString from;
    QString to;
    QString subject;
    ParsedEntity root;
    QStringList defects;
    QString error; // the parser could not be run or gave up
};

// The message file as Python's email package parses it (/usr/bin/python3).
ParsedMessage readWithPython(const QString& path);
// The message text as GMime parses it.
ParsedMessage readWithGMime(const QByteArray& messageText);

// What a composed message must be to either parser.
struct ExpectedMessage
{
    QString from;
    QString to;
    QString subject;
    QByteArray plain; // the merged body's lines, CR LF after each
    QByteArray html;
    QStringList contentIds;
    QStringList fileNames;
    QList<QByteArray> images;
    bool plainOnly = false; // one text/plain entity, no MIME tree
};

// The message text's lines as the encoder sees them: CR LF after each.
QByteArray crLfLines(const QString& text);
// Python hands text back with LF line ends, GMime as it stood: lines are
// compared, not their ends.
QByteArray lf(QByteArray text);

// Empty when the parsed message is the expected one: text/plain alone when
// want.plainOnly, otherwise multipart/related holding
// multipart/alternative (text/plain, text/html), then the image parts in
// order, with matching texts, bytes, content-IDs and "cid:" references;
// otherwise what differs, led by the parser's name.
QString checkMessage(const char* parser, const ParsedMessage& got, const ExpectedMessage& want);

// Both parsers on the file at path; empty when both agree with want.
QString checkWithBothParsers(const QString& path, const ExpectedMessage& want);

} // namespace bv::test
