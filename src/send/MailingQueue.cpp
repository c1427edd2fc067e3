#include "MailingQueue.h"

#include "core/Clock.h"
#include "data/Database.h"
#include "data/TableView.h"

namespace bv::send {

using data::quoted;

QString pendingFilter()
{
    return QStringLiteral("(Error = False) and (Sent = False)");
}

namespace {

QString eligibleCondition(const QString& listLiteral)
{
    return QStringLiteral("Where r.SendTo = True and r.list = ") + listLiteral + QStringLiteral(" ")
           + QStringLiteral("and not (r.Email in (select e.email from ExclusionList e where e.List = ")
           + listLiteral + QStringLiteral("))");
}

// "abc" is 0, "1.5" is 1.5, "-2" is -2: the number the skip checks compare.
double decimalValue(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok ? value : 0;
}

// The number of rows deleted: a whole number, else 0.
int wholeValue(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

} // namespace

TMailingQueue::TMailingQueue(data::Connection& connection, data::TableView& pending, const Clock& clock,
                             std::function<bool()> askSkip, std::function<void()> clearSpool)
    : m_connection(connection), m_pending(pending), m_clock(clock), m_askSkip(std::move(askSkip)),
      m_clearSpool(std::move(clearSpool))
{
}

QString TMailingQueue::FillQueue(bool redo)
{
    try {
        m_pending.close();
        QString result;
        if (!redo) {
            fill();
            if (m_choices.skipTheFirst && (!m_askSkip || m_askSkip()))
                result = skipLeadingRows();
        }
        m_pending.setFilter(pendingFilter());
        m_pending.setFiltered(true);
        if (!m_pending.isOpen())
            m_pending.open();
        m_pending.first();
        return result;
    } catch (const data::DbError& e) {
        return e.message();
    }
}

QString TMailingQueue::skipLeadingRows()
{
    const double n = decimalValue(m_choices.skipText);
    const int count = m_pending.recordCount();
    if (n > count)
        return QStringLiteral("You are skipping more records than exist in the list you are sending to.");
    if (n == count)
        return QStringLiteral("You are skipping all of the records than exist in the list you are sending to.");
    m_pending.first();
    const int m = wholeValue(m_choices.skipText);
    for (int i = 0; i < m && !m_pending.eof(); ++i)
        m_pending.deleteRecord();
    return QString();
}

void TMailingQueue::fill()
{
    m_connection.execute(QStringLiteral("delete from emailbeingsent"));
    if (m_clearSpool)
        m_clearSpool();
    const QString t = m_clock.now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString list = quoted(m_choices.listName);
    m_connection.execute(
        QStringLiteral("Insert into emailbeingsent (Salutation, FirstName,LastName,Email,List,Sent,Error,"
                       "EmailDate) Select r.Salutation, r.FirstName, r.LastName, r.Email, r.List, False, "
                       "False,'")
        + t + QStringLiteral("'") + QStringLiteral("From RecipientList r ") + eligibleCondition(list));
    m_pending.setFilter(pendingFilter());
    m_pending.setFiltered(true);
    m_pending.open();
}

int TMailingQueue::eligibleCount()
{
    return m_connection
        .scalar(QStringLiteral("select count(*) as \"ct\" from RecipientList r ")
                + eligibleCondition(quoted(m_choices.listName)))
        .toInt();
}

QString TMailingQueue::StartRunRecord(const QString& operation)
{
    if (!m_pending.isOpen())
        m_pending.open();
    const int ct = eligibleCount();
    const int attempts = operation == QLatin1String("Test") ? 1 : m_pending.recordCount();
    const QString s = m_clock.now().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss"));
    m_connection.execute(
        QStringLiteral("Insert Into EmailHistory (StartTime, EndTime, Subject, List, \"From\", ListCount, "
                       "AttemptCount, Operation) values ('")
        + s + QStringLiteral("','01/01/1900 01:01:01',") + quoted(m_choices.subject) + QStringLiteral(",")
        + quoted(m_choices.listName) + QStringLiteral(",") + quoted(m_choices.senderText) + QStringLiteral(",")
        + QString::number(ct) + QStringLiteral(",") + QString::number(attempts) + QStringLiteral(",")
        + quoted(operation) + QStringLiteral(")"));
    return s;
}

void TMailingQueue::FinishRunRecord(const QString& startText, int processed)
{
    if (!m_pending.isOpen())
        m_pending.open();
    m_connection.execute(QStringLiteral("Update EmailHistory set SuccessCount = ") + QString::number(processed)
                         + QStringLiteral(", EndTime ='")
                         + m_clock.now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                         + QStringLiteral("' where ") + QStringLiteral("StartTime = '") + startText
                         + QStringLiteral("'"));
}

} // namespace bv::send
