#pragma once

#include "MailText.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace bv::data {
class Connection;
}

namespace bv::returned {

// The returned-mail inbox, IncomingEmail: stored messages numbered by Index.
// Statements run on the connection given (AdsConnection1); engine failures
// raise bv::data::DbError.
class Inbox
{
public:
    explicit Inbox(bv::data::Connection& connection) : m_connection(connection) {}

    struct Message
    {
        int index = 0;
        QString text;
    };

    // Writes the fetched message out as text and appends it with the highest
    // Index + 1 (1 in an empty inbox); answers that Index.
    int store(const QByteArray& fetched);
    // Gives the rows the numbers 1, 2, 3 ... in Index order.
    void renumber();
    int count();
    // Every message in Index order.
    QList<Message> messages();
    std::optional<QString> messageText(int index);
    // Deletes every message; answers how many there were.
    int trashAll();
    // False when no row has that Index.
    bool trash(int index);

    // The texts harvested from a message: its From mailbox, its body, its
    // subject, then the texts of its other parts.
    static QStringList harvestTexts(const MailFields& fields);

private:
    bv::data::Connection& m_connection;
};

} // namespace bv::returned
