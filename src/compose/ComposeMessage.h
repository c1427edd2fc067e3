#pragma once

#include <QString>

namespace bv::compose {

class TIpMailMessage;

// What the main window hands over for one message.
struct ComposeInput
{
    QString sender; // the From text, as FormatSender makes it
    QString subject; // as typed; never merged
    QString plainBody;
    QString htmlBody;
};

// Builds message anew for one recipient: multipart/related holding the
// plain/HTML alternative, then one inline image part per image token of the
// HTML body; a message whose HTML body shows nothing goes as its plain text
// alone. MailTo is left empty for the caller. Throws MessageError when an
// image file cannot be read; the message is then incomplete.
void ComposeMessage(TIpMailMessage& message, const ComposeInput& input, const QString& salutation,
                    const QString& firstName, const QString& lastName);

// True for an HTML body that shows nothing: empty, blanks, or bare markup
// such as the skeleton the editor's Clear button leaves.
bool htmlShowsNothing(const QString& html);

// "jpeg", "gif", "bmp", "png", "tiff" by the file name's extension, else empty.
QString ImageSubtype(const QString& fileName);

// The plain report sent back to the sender when a message could not be
// delivered: From and To the sender, three body lines, no MIME parts.
void ComposeErrorReport(TIpMailMessage& message, const QString& sender, const QString& recipients,
                        const QString& originalSubject, const QString& errorText);

} // namespace bv::compose
