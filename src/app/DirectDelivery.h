#pragma once

#include "send/DirectMail.h"

#include <QObject>

namespace bv::send {
class TMailingRun;
}

namespace bv::app {

class TfrmBrevicastMain;

// The main window's side of direct delivery: the two passes over the spool
// folder and the handlers that show their progress.
class DirectDelivery : public QObject
{
    Q_OBJECT
public:
    DirectDelivery(TfrmBrevicastMain& window, send::TMailingRun& run, send::DeliveryJob job);

    send::TDirectMail& pool() { return m_pool; }

    // The first pass: the message files the mailing run wrote.
    void SendDirect();
    // The second pass: the error reports of the first.
    void SendErrorMails();
    void ClearSpool();

    // Cleared by the mailing run before SendDirect.
    bool finished = false;
    int errorReports = 0;

private:
    void DirectMailThreadCountChange(int successes, int threadCount);
    void ErrorMailThreadCountChange(int successes, int threadCount);
    void DirectMailError(const QString& recipient, const QString& emailNo, const QString& error);
    void DirectMailComplete();
    void ErrorMailComplete();
    void showThreadCount(int successes, int threadCount, const QString& activity);
    void runPass(const QString& mask);

    TfrmBrevicastMain& m_window;
    send::TMailingRun& m_run;
    send::TDirectMail m_pool;
    int m_attempted = 0;
};

} // namespace bv::app
