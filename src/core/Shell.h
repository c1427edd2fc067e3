#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace bv {

// The desktop shell: opening files and pages with their default program and
// starting other programs.
class Shell
{
public:
    virtual ~Shell() = default;
    virtual bool openUrl(const QUrl& url) = 0;
    virtual bool startProgram(const QString& program, const QStringList& arguments = {}) = 0;
};

// A link of a page the program shows (a message, the news) goes to the
// desktop only as a web page or a new mail: any other address would have the
// desktop open a local file or start a program. False when it was not opened.
bool openOutsideLink(Shell& shell, const QUrl& url);

class DesktopShell : public Shell
{
public:
    bool openUrl(const QUrl& url) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;
};

} // namespace bv
