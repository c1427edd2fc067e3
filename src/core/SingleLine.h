#pragma once

#include <QString>
#include <QValidator>

namespace bv {

// A value that stands on one line of a file or of a protocol command: CR, LF
// and NUL removed. A pasted value often brings a line break along; written as
// it came, it would start another line of the file or another command.
QString singleLine(const QString& text);
bool isSingleLine(const QString& text);

// For one-line edit boxes whose text goes into a line-based file or onto the
// wire: pasted or typed line breaks are dropped as they arrive, so the box
// shows what will be stored. Nothing else is refused or changed.
class SingleLineValidator : public QValidator
{
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
};

} // namespace bv
