#pragma once

#include "data/Database.h"
#include "data/TableView.h"

#include <QStringList>

namespace bv::test {

inline void addPopRow(bv::data::Connection& c, const QString& address, bool isDefault,
                      const QString& server = QStringLiteral("pop.x.com"))
{
    bv::data::TableView v(c, QStringLiteral("PopAccounts"));
    v.open();
    v.append();
    v.setValue(QStringLiteral("EmailAddress"), address);
    v.setValue(QStringLiteral("PopServer"), server);
    v.setValue(QStringLiteral("Port"), 995);
    v.setValue(QStringLiteral("Account"), address.section(QLatin1Char('@'), 0, 0));
    v.setValue(QStringLiteral("Password"), QStringLiteral("pw"));
    v.setValue(QStringLiteral("Default"), isDefault);
    v.post();
}

// "address:flag" for every row in stored order.
inline QStringList popRows(bv::data::Connection& c)
{
    bv::data::TableView v(c, QStringLiteral("PopAccounts"));
    v.open();
    QStringList out;
    for (v.first(); !v.eof(); v.next())
        out << v.value(QStringLiteral("EmailAddress")).toString() + QLatin1Char(':') +
                   (v.value(QStringLiteral("Default")).toBool() ? QStringLiteral("1")
                                                                : QStringLiteral("0"));
    return out;
}

} // namespace bv::test
