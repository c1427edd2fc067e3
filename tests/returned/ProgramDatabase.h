#pragma once

#include "data/Database.h"
#include "TempProgramFolder.h"

#include <QFile>

namespace bv::test {

// A fresh program folder with its database open as AdsConnection1.
struct ProgramDatabase
{
    TempProgramFolder home;
    bv::data::Connection conn{QStringLiteral("AdsConnection1")};
    ProgramDatabase() { conn.open(home.path()); }
};

// A message of tests/fixtures/returned, as a server would hand it over.
inline QByteArray returnedFixture(const QString& name)
{
    QFile f(QStringLiteral(BV_FIXTURES_DIR "/returned/") + name);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace bv::test
