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

} // namespace bv::test
