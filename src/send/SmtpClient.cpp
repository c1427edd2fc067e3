#include "SmtpClient.h"

#include "core/Clock.h"

namespace bv::send {

QString SmtpStateText(TIpSmtpStates state)
{
    switch (state) {
    case ssNoOp:
        return QStringLiteral("No operation");
    case ssConnect:
        return QStringLiteral("Connecting");
    case ssEhlo:
        return QStringLiteral("Logging on with EHLO");
    case ssHelo:
        return QStringLiteral("Logging on with HELO");
    case ssMailFrom:
        return QStringLiteral("Sending sender's info");
    case ssRcptTo:
        return QStringLiteral("Sending MailTo info");
    case ssRcptCc:
        return QStringLiteral("Sending CC info");
    case ssRcptBcc:
        return QStringLiteral("Sending BCC info");
    case ssData:
        return QStringLiteral("Sending Data");
    case ssRSet:
        return QStringLiteral("Resetting server");
    case ssHelp:
        return QStringLiteral("Help");
    case ssSendEnvelope:
        return QStringLiteral("Sending Envelope");
    case ssSendMessage:
        return QStringLiteral("Sending Message");
    case ssSpecial:
        return QStringLiteral("Sending special command");
    case ssQuit:
        return QStringLiteral("Quit");
    case ssAuthLogin:
        return QStringLiteral("Requesting authentication");
    case ssAuthUser:
        return QStringLiteral("Authenticating username");
    case ssAuthPass:
        return QStringLiteral("Authenticating password");
    }
    return QString();
}

TIpSmtpClient::TIpSmtpClient(Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_message(std::make_unique<compose::TIpMailMessage>(clock))
{
}

TIpSmtpClient::~TIpSmtpClient() = default;

void TIpSmtpClient::replaceMessage()
{
    auto fresh = std::make_unique<compose::TIpMailMessage>(m_clock);
    fresh->setOnCodingProgress(m_message->codingProgressHandler());
    m_message = std::move(fresh);
}

} // namespace bv::send
