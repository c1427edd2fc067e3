#pragma once

// The sample message of the composing benchmarks: bodies of words with merge
// fields, and images of random bytes behind a GIF signature.
#include "compose/ComposeMessage.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <cstdio>

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

// The sample message: a sender, a subject, both bodies, and two images
// written into dir. False, with the reason printed, when they cannot be.
inline bool sampleInput(const QTemporaryDir& dir, int bodyBytes, int imageSize,
                        bv::compose::ComposeInput& input)
{
    const QString logo = dir.filePath("logo.gif");
    const QString photo = dir.filePath("photo.gif");
    for (const auto& [path, seed] : {std::pair{logo, 1u}, std::pair{photo, 2u}}) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(imageBytes(imageSize, seed)) != imageSize) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    input.sender = "Ann Sender <ann@example.com>";
    input.subject = "Spring offer for you";
    input.plainBody = body(bodyBytes, QString(), false);
    input.htmlBody = body(bodyBytes, "<p>{{-img:" + logo + "-}} {{-img:" + photo + "-}}</p>\r\n", true);
    return true;
}

} // namespace bench
