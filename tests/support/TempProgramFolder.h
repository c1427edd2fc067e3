#pragma once

#include <QString>
#include <QTemporaryDir>

namespace bv::test {

// A fresh program folder for one test case; BREVICAST_HOME points at it while
// the object lives.
class TempProgramFolder
{
public:
    TempProgramFolder();
    ~TempProgramFolder();
    QString path() const; // ends with "/"
    QString file(const QString& name) const { return path() + name; }
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

} // namespace bv::test
