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

class DesktopShell : public Shell
{
public:
    bool openUrl(const QUrl& url) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;
};

} // namespace bv
