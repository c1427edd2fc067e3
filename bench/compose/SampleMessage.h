#pragma once

// The sample message of the composing benchmarks: bodies of words with merge
// fields, and images of random bytes behind a GIF signature.
#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace bench {

inline QString body(int bytes, const QString& images, bool html)
{
    static const QStringList words = {"offer", "spring", "garden", "tools", "price", "Grüße",
                                      "delivery", "a=b", "café", "week", "free", "order"};
    QRandomGenerator random(42);
    QString text = html ? "<HTML><BODY>\r\n<p>Dear {{-salutation-}} {{-lastname-}},</p>\r\n"
                        : "Dear {{-salutation-}} {{-lastname-}},\r\n";
    text += images;
    int column = 0;
    while (text.toUtf8().size() < bytes) {
        const QString& w = words.at(random.bounded(int(words.size())));
        text += w;
        column += int(w.size()) + 1;
        if (column > 60 + random.bounded(30)) {
            text += html ? "<br>\r\n" : "\r\n";
            column = 0;
        } else {
            text += ' ';
        }
    }
    text += html ? "<p>{{-firstname-}}</p></BODY></HTML>\r\n" : "Bye {{-firstname-}}\r\n";
    return text;
}

inline QByteArray imageBytes(int size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(seed);
    for (char& c : bytes)
        c = char(random.bounded(256));
    bytes.replace(0, 6, "GIF89a");
    return bytes;
}

} // namespace bench
