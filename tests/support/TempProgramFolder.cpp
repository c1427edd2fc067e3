#include "TempProgramFolder.h"

namespace bv::test {

TempProgramFolder::TempProgramFolder()
{
    m_hadPrevious = qEnvironmentVariableIsSet("BREVICAST_HOME");
    m_previous = qgetenv("BREVICAST_HOME");
    qputenv("BREVICAST_HOME", m_dir.path().toUtf8());
}

TempProgramFolder::~TempProgramFolder()
{
    if (m_hadPrevious)
        qputenv("BREVICAST_HOME", m_previous);
    else
        qunsetenv("BREVICAST_HOME");
}

QString TempProgramFolder::path() const
{
    return m_dir.path() + QLatin1Char('/');
}

} // namespace bv::test
