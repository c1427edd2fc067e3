// Reading a binary workbook through brevicast-xls.
#include "WorkbookReaders.h"
#include "XlsStream.h"

#include "core/ProgramFolder.h"

#include <QFileInfo>
#include <QProcess>

#include <csignal>

namespace bv::lists::detail {

namespace {

const QString ReaderName = QStringLiteral("brevicast-xls");

class ReaderProcess
{
public:
    ~ReaderProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(-1);
        }
    }
    QProcess* operator->() { return &m_process; }
    QProcess& get() { return m_process; }

private:
    QProcess m_process;
};

// Why the reader ended without saying so itself.
QString stoppedReason(QProcess& reader)
{
    reader.waitForFinished(-1);
    if (reader.exitStatus() == QProcess::CrashExit && reader.exitCode() == SIGXCPU)
        return QStringLiteral("reading it took longer than five minutes.");
    return QStringLiteral("it is badly damaged, or made to do harm (reading it failed).");
}

} // namespace

bool readXls(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits)
{
    const QString program = helperProgram(ReaderName);
    if (program.isEmpty())
        throw WorkbookError(damagedText(
            path, QStringLiteral("the program's reader of .xls workbooks, %1, is missing from "
                                 "its installation.")
                      .arg(ReaderName)));
    ReaderProcess reader;
    reader->setProgram(program);
    reader->setArguments({QFileInfo(path).absoluteFilePath(), QString::number(limits.xlsCells),
                          QString::number(limits.xlsFileBytes)});
    reader->setStandardErrorFile(QProcess::nullDevice());
    reader->start(QIODevice::ReadOnly);
    if (!reader->waitForStarted(-1))
        throw WorkbookError(damagedText(
            path, QStringLiteral("%1 could not be started: %2.")
                      .arg(ReaderName, reader->errorString())));

    QDataStream in(&reader.get());
    in.setVersion(xls::StreamVersion);
    for (;;) {
        in.startTransaction();
        quint8 kind = 0;
        qint32 percent = 0;
        QStringList cells;
        QString message;
        in >> kind;
        if (kind == xls::RowFrame)
            in >> percent >> cells;
        else if (kind == xls::ErrorFrame)
            in >> message;
        if (!in.commitTransaction()) {
            // A frame not yet complete: more is coming, or the reader ended
            // half-way through it.
            if (reader->waitForReadyRead(-1))
                continue;
            throw WorkbookError(damagedText(path, stoppedReason(reader.get())));
        }
        switch (kind) {
        case xls::RowFrame:
            if (!onRow(cells, percent))
                return false;
            break;
        case xls::ErrorFrame:
            throw WorkbookError(message);
        case xls::EndFrame:
            reader->waitForFinished(-1);
            return true;
        default:
            throw WorkbookError(damagedText(path, stoppedReason(reader.get())));
        }
    }
}

} // namespace bv::lists::detail
