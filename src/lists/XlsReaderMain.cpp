// brevicast-xls FILE CELLS BYTES
//
// Writes the rows of the first worksheet of the binary workbook FILE on
// standard output (see XlsStream.h); CELLS and BYTES are the ceilings of
// WorkbookLimits. The program starts it for every .xls file it reads, so that
// a damaged or hostile workbook that throws the decoder off ends this process,
// bounded in memory and time, and nothing of the user's session.
#include "Workbook.h"
#include "WorkbookReaders.h"
#include "XlsStream.h"

#include <QFile>

#include <cstdio>
#include <sys/resource.h>

namespace {

void limit(int resource, rlim_t value)
{
    const rlimit r{value, value};
    setrlimit(resource, &r);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace bv::lists;
    if (argc != 4) {
        std::fprintf(stderr, "usage: brevicast-xls FILE CELLS BYTES\n");
        return 2;
    }
    limit(RLIMIT_CORE, 0);
    limit(RLIMIT_CPU, 300);
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizers reserve terabytes of address space for themselves.
    limit(RLIMIT_AS, rlim_t(4) << 30);
#endif

    WorkbookLimits limits;
    limits.xlsCells = QByteArray(argv[2]).toULongLong();
    limits.xlsFileBytes = QByteArray(argv[3]).toLongLong();

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 1;
    QDataStream stream(&out);
    stream.setVersion(detail::xls::StreamVersion);
    try {
        detail::decodeXls(
            QFile::decodeName(argv[1]),
            [&](const QStringList& cells, int percent) {
                stream << detail::xls::RowFrame << qint32(percent) << cells;
                return stream.status() == QDataStream::Ok;
            },
            limits);
        stream << detail::xls::EndFrame;
    } catch (const WorkbookError& e) {
        stream << detail::xls::ErrorFrame << e.message();
    }
    out.flush();
    return stream.status() == QDataStream::Ok ? 0 : 1;
}
