#pragma once

#include <QProcess>
#include <QString>

namespace bv::test {

// Writes the spreadsheet import's workbooks into folder with their script;
// an empty text on success, else what went wrong.
inline QString makeWorkbooks(const QString& folder)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-I"), QStringLiteral(BV_SOURCE_DIR "/tests/lists/make_workbooks.py"), folder});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString::fromLocal8Bit(p.readAllStandardError()) + p.errorString();
    return {};
}

} // namespace bv::test
