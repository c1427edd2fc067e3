#pragma once

#include "data/Database.h"

#include <QStringList>
#include <QVariant>

namespace bv::test {

// A value as the tests write it: NULL, True/False, or its text.
inline QString cell(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return v.toString();
}

// Rows as "a|b|c" texts.
inline QStringList rowsOf(const data::ResultSet& rs)
{
    QStringList out;
    for (const QVariantList& row : rs.rows) {
        QStringList cells;
        for (const QVariant& v : row)
            cells << cell(v);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

// Two lists, a recipient listed three times, one in another letter case,
// names with quotes; exclusions with a duplicate.
inline void fillSmallDataSet(data::Connection& c)
{
    const char* recipients[] = {
        "('Ann','Smith','ann@x.com','L1','Ms.',True)",
        "('Bob','Goldsmith','bob@x.com','L1','Mr.',True)",
        "('Cy','Jones','cy@x.com','L1','Mr.',False)",
        "('Ann','Smithers','ann@x.com','L1','Mrs.',True)",
        "('Dee','O''Neil','dee@y.com','O''Neil''s','Dr.',True)",
        "('Ed','Park','ann@x.com','L1','',True)",
        "('Fay','Kim','ANN@X.COM','L1','Ms.',True)",
        "('Gus','Lee','gus@z.com','L2','Mr.',True)",
    };
    for (const char* r : recipients)
        c.execute(QStringLiteral("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) values ") +
                  QString::fromLatin1(r));
    const char* exclusions[] = {
        "('Bob','Goldsmith','bob@x.com','L1','Mr.',True)",
        "('Dee','O''Neil','DEE@Y.COM','O''Neil''s','Dr.',True)",
        "('Zed','Zed','zed@x.com','L1','',True)",
        "('Zed','Zed','zed@x.com','L1','',True)",
    };
    for (const char* e : exclusions)
        c.execute(QStringLiteral("insert into ExclusionList (FirstName,LastName,Email,List,Salutation,SendTo) values ") +
                  QString::fromLatin1(e));
    for (const char* l : {"L1", "O''Neil''s", "L2"})
        c.execute(QStringLiteral("insert into Lists (List) values ('%1')").arg(QString::fromLatin1(l)));
}

} // namespace bv::test
