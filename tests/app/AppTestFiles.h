#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtTest>

namespace bv::test {

// The bytes of a file, empty when it cannot be read.
inline QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace bv::test
