#pragma once

#include "data/Database.h"

#include <QRegularExpression>
#include <QtTest>

namespace bv::test {

// Only BadEmail, the small table, may be read whole: the recipients and
// exclusions a statement reads are searched by their upper-case address
// indexes. Parameters take an address.
inline void verifyUpperIndexes(data::Connection& c, const QString& sql)
{
    QStringList plan;
    for (const QVariantList& row : c.select("EXPLAIN QUERY PLAN " + sql, {{"eml", "A@B.C"}}).rows)
        plan << row.last().toString();
    const QString text = plan.join('\n');
    QVERIFY2(!text.contains(QRegularExpression("SCAN (r|rl|el|RecipientList|ExclusionList)\\b")),
             qPrintable(text));
    if (sql.contains("RecipientList", Qt::CaseInsensitive))
        QVERIFY2(text.contains("RecipientList_x2"), qPrintable(text));
    if (sql.contains("from ExclusionList", Qt::CaseInsensitive) ||
        sql.contains("join ExclusionList", Qt::CaseInsensitive))
        QVERIFY2(text.contains("ExclusionList_x2"), qPrintable(text));
}

} // namespace bv::test
