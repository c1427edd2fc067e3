#pragma once

#include <QString>

#include <functional>

namespace bv {
class Clock;
}

namespace bv::data {
class Connection;
class TableView;
} // namespace bv::data

namespace bv::send {

// The filter of the run's view of the queue: with it on, the view holds the
// pending rows only, in stored order.
QString pendingFilter();

// What the queue is filled from: the main window's choices for this run.
struct QueueChoices
{
    QString listName; // cbCurrentList
    bool skipTheFirst = false; // rgSendTo item 1
    QString skipText; // txtSkipTheFirst
    QString subject; // cbEmailSubject
    QString senderText; // FormatSender of the picked sender; empty when not found
};

// The send queue EmailBeingSent and the run records in EmailHistory.
class TMailingQueue
{
public:
    // askSkip: the switchable SkipMsg question, true for Yes. clearSpool: the
    // direct-delivery spool folder is emptied for a new mailing.
    TMailingQueue(data::Connection& connection, data::TableView& pending, const Clock& clock,
                  std::function<bool()> askSkip, std::function<void()> clearSpool);

    void setChoices(const QueueChoices& choices) { m_choices = choices; }
    const QueueChoices& choices() const { return m_choices; }

    // Prepares the queue (refills it unless redo) and leaves the pending view
    // open on its first row. Returns an error text, empty on success.
    QString FillQueue(bool redo);
    // Inserts the run record and returns its StartTime text. Throws DbError.
    QString StartRunRecord(const QString& operation);
    // Completes the run record. Throws DbError.
    void FinishRunRecord(const QString& startText, int processed);

    // The recipients of the picked list that a new mailing would queue.
    int eligibleCount();

private:
    void fill();
    QString skipLeadingRows();

    data::Connection& m_connection;
    data::TableView& m_pending;
    const Clock& m_clock;
    std::function<bool()> m_askSkip;
    std::function<void()> m_clearSpool;
    QueueChoices m_choices;
};

} // namespace bv::send
