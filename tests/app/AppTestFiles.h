#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtTest>

#include "ImageFixtures.h" // writeFile

namespace bv::test {

// The bytes of a file, empty when it cannot be read.
inline QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace bv::test
