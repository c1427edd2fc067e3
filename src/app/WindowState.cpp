#include "app/WindowState.h"

#include "core/IniFile.h"
#include "core/SecretStore.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <limits>

namespace bv::app {

namespace {

const QString kDefaults = QString::fromLatin1(kDefaultsSection);

const QRegularExpression& lineBreak()
{
    static const QRegularExpression re(QStringLiteral("\r\n|\r|\n"));
    return re;
}

// A key's value must stay on its line, or the next reader would take the rest
// for keys of their own.
QString oneLine(const QString& value)
{
    if (!value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')))
        return value;
    QString v = value;
    v.replace(lineBreak(), QStringLiteral(" "));
    return v;
}

QString keyLine(const QString& key, const QString& value)
{
    return key + QLatin1Char('=') + oneLine(value);
}

// Raw body lines must be exactly one file line each, or the line numbers
// written beside them would point at the wrong lines.
QStringList fileLines(const QStringList& lines)
{
    QStringList out;
    out.reserve(lines.size());
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            out.append(line.split(lineBreak()));
        else
            out.append(line);
    }
    return out;
}

const QString kPassword = QStringLiteral("txtPassword");

qsizetype indexOf(const QList<ControlValue>& controls, const QString& name)
{
    for (qsizetype i = 0; i < controls.size(); ++i)
        if (controls.at(i).name == name)
            return i;
    return -1;
}

QString textOf(const QList<ControlValue>& controls, const QString& name)
{
    const qsizetype i = indexOf(controls, name);
    return i < 0 ? QString() : controls.at(i).text;
}

QString smtpKeyOf(const QList<ControlValue>& controls)
{
    return smtpSecretKey(textOf(controls, QStringLiteral("txtSMTPServer")),
                         textOf(controls, QStringLiteral("txtUser")));
}

// The controls as a file of that kind keeps them: without the password once
// the secret store has taken it, and always without it in a message file.
QList<ControlValue> controlsToWrite(const QList<ControlValue>& controls, StateFile kind,
                                    SecretStore& secrets)
{
    const qsizetype at = indexOf(controls, kPassword);
    if (at < 0)
        return controls;
    if (kind == StateFile::Settings) {
        if (!secrets.holdsSecrets())
            return controls;
        const QString& password = controls.at(at).text;
        const QString key = smtpKeyOf(controls);
        if (!(password.isEmpty() ? secrets.remove(key) : secrets.write(key, password)))
            return controls;
    }
    QList<ControlValue> out = controls;
    out.removeAt(at);
    return out;
}

int toIndex(qint64 n)
{
    return n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max() ? 0 : int(n);
}

} // namespace

namespace {
ControlValue control(const QString& name, ControlKind kind)
{
    ControlValue v;
    v.name = name;
    v.kind = kind;
    return v;
}
} // namespace

ControlValue ControlValue::edit(const QString& name, const QString& text)
{
    ControlValue v = control(name, ControlKind::Edit);
    v.text = text;
    return v;
}

ControlValue ControlValue::dropDown(const QString& name, const QString& text,
                                    const QStringList& items)
{
    ControlValue v = control(name, ControlKind::DropDownList);
    v.text = text;
    v.items = items;
    v.index = int(items.indexOf(text));
    return v;
}

ControlValue ControlValue::combo(const QString& name, const QString& text)
{
    ControlValue v = control(name, ControlKind::ComboBox);
    v.text = text;
    return v;
}

ControlValue ControlValue::comboWithItems(const QString& name, const QString& text,
                                          const QStringList& items)
{
    ControlValue v = control(name, ControlKind::ComboBoxWithItems);
    v.text = text;
    v.items = items;
    return v;
}

ControlValue ControlValue::checkBox(const QString& name, bool checked, bool checkedWhenAbsent)
{
    ControlValue v = control(name, ControlKind::CheckBox);
    v.checked = checked;
    v.checkedWhenAbsent = checkedWhenAbsent;
    return v;
}

ControlValue ControlValue::radioGroup(const QString& name, int index)
{
    ControlValue v = control(name, ControlKind::RadioGroup);
    v.index = index;
    return v;
}

ControlValue ControlValue::fileDialog(const QString& name, const QString& fileName)
{
    ControlValue v = control(name, ControlKind::FileDialog);
    v.text = fileName;
    return v;
}

ControlValue ControlValue::multiLine(const QString& name, const QStringList& lines)
{
    ControlValue v = control(name, ControlKind::MultiLineText);
    v.lines = lines;
    return v;
}

QStringList windowStateLines(const QList<ControlValue>& controls)
{
    QStringList out;
    out.append(QLatin1Char('[') + kDefaults + QLatin1Char(']'));
    for (const ControlValue& c : controls) {
        switch (c.kind) {
        case ControlKind::Edit:
        case ControlKind::DropDownList:
        case ControlKind::ComboBox:
        case ControlKind::FileDialog:
            out.append(keyLine(c.name, c.text));
            break;
        case ControlKind::ComboBoxWithItems:
            out.append(keyLine(c.name, c.text));
            for (qsizetype i = 0; i < c.items.size(); ++i)
                out.append(keyLine(c.name + QStringLiteral("Items") + QString::number(i + 1),
                                   c.items.at(i)));
            break;
        case ControlKind::CheckBox:
            out.append(keyLine(c.name, c.checked ? QStringLiteral("1") : QStringLiteral("0")));
            break;
        case ControlKind::RadioGroup:
            out.append(keyLine(c.name, QString::number(c.index)));
            break;
        case ControlKind::MultiLineText:
            break;
        }
    }

    for (const ControlValue& c : controls) {
        if (c.kind != ControlKind::MultiLineText)
            continue;
        const QStringList body = fileLines(c.lines);
        // The header, both numbers and the _TEXTSection header come first.
        const qsizetype begin = out.size() + 4;
        out.append(QLatin1Char('[') + c.name + QLatin1Char(']'));
        out.append(c.name + QStringLiteral("_TextBegin=") + QString::number(begin));
        out.append(c.name + QStringLiteral("_TextEnd=") + QString::number(begin + body.size() - 1));
        out.append(QLatin1Char('[') + c.name + QStringLiteral("_TEXTSection]"));
        out.append(body);
        out.append(c.name + QStringLiteral("_Dummy=-1"));
    }
    return out;
}

QByteArray renderWindowState(const QList<ControlValue>& controls)
{
    return joinCrLf(windowStateLines(controls));
}

QString unableToWriteText(const QString& path)
{
    return QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(path));
}

bool replaceFile(const QString& path, const QByteArray& bytes)
{
    // The settings file holds the SMTP password when there is no secret store.
    return replaceFileContents(path, bytes, nullptr, FileAccess::OwnerOnly);
}

bool saveWindowState(const QString& path, const QList<ControlValue>& controls, QString* error,
                     StateFile kind)
{
    return saveWindowState(path, controls, error, kind, fileSecrets());
}

bool saveWindowState(const QString& path, const QList<ControlValue>& controls, QString* error,
                     StateFile kind, SecretStore& secrets)
{
    if (replaceFile(path, renderWindowState(controlsToWrite(controls, kind, secrets))))
        return true;
    if (error)
        *error = unableToWriteText(path);
    return false;
}

void applyWindowState(const IniFile& ini, QList<ControlValue>& controls,
                      const QString& programFolder)
{
    for (ControlValue& c : controls) {
        const std::optional<QString> value = ini.value(kDefaults, c.name);
        switch (c.kind) {
        case ControlKind::Edit:
        case ControlKind::ComboBox:
            c.text = value.value_or(QString());
            break;
        case ControlKind::DropDownList: {
            c.index = -1;
            c.text.clear();
            const QString wanted = value.value_or(QString());
            for (qsizetype i = 0; i < c.items.size(); ++i)
                if (c.items.at(i).compare(wanted, Qt::CaseInsensitive) == 0) {
                    c.index = int(i);
                    c.text = c.items.at(i);
                    break;
                }
            break;
        }
        case ControlKind::ComboBoxWithItems:
            c.text = value.value_or(QString());
            c.items.clear();
            for (int i = 1;; ++i) {
                const auto item =
                    ini.value(kDefaults, c.name + QStringLiteral("Items") + QString::number(i));
                if (!item)
                    break;
                c.items.append(*item);
            }
            break;
        case ControlKind::CheckBox:
            c.checked = ini.number(kDefaults, c.name, c.checkedWhenAbsent ? 1 : 0) != 0;
            break;
        case ControlKind::RadioGroup:
            c.index = toIndex(ini.number(kDefaults, c.name, 0));
            break;
        case ControlKind::FileDialog:
            c.text = value.value_or(QString());
            if (!c.text.isEmpty() && !c.text.contains(QLatin1Char('/')))
                c.text.prepend(programFolder);
            c.folder = c.text.isEmpty() ? QDir::cleanPath(programFolder) : QFileInfo(c.text).path();
            break;
        case ControlKind::MultiLineText:
            c.lines = ini.lineRange(ini.number(c.name, c.name + QStringLiteral("_TextBegin"), -1),
                                    ini.number(c.name, c.name + QStringLiteral("_TextEnd"), -1));
            break;
        }
    }
}

bool loadWindowState(const QString& path, QList<ControlValue>& controls,
                     const QString& programFolder, QString* error, bool messageFile)
{
    return loadWindowState(path, controls, programFolder, error, messageFile, fileSecrets());
}

bool loadWindowState(const QString& path, QList<ControlValue>& controls,
                     const QString& programFolder, QString* error, bool messageFile,
                     SecretStore& secrets)
{
    IniFile ini;
    QString reason;
    QStringList lines;
    bool read =
        messageFile ? readTextLines(path, lines, &reason) : IniFile::load(path, ini, &reason);
    if (messageFile && read) {
        ini = IniFile::fromLines(std::move(lines));
        // Any other file would read as an empty message and wipe the window.
        const auto& sections = ini.sections();
        read = std::any_of(sections.begin(), sections.end(), [](const IniFile::Section& s) {
            return s.name.compare(kDefaults, Qt::CaseInsensitive) == 0;
        });
        if (!read)
            reason = QStringLiteral("it is not a Brevicast message file.");
    }
    if (!read) {
        if (error)
            *error =
                QStringLiteral("Unable to read %1: %2").arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    const QString keyBefore = smtpKeyOf(controls);
    const QString passwordBefore = textOf(controls, kPassword);
    applyWindowState(ini, controls, programFolder);

    const qsizetype at = indexOf(controls, kPassword);
    const std::optional<QString> inFile = ini.value(kDefaults, kPassword);
    if (at < 0 || (inFile && !inFile->isEmpty()))
        return true;
    // A message file for the account already in the window keeps what was
    // typed there; the store's copy may be older.
    const QString key = smtpKeyOf(controls);
    const bool sameAccount = messageFile && key == keyBefore;
    const std::optional<QString> stored =
        sameAccount || !secrets.holdsSecrets() ? std::nullopt : secrets.read(key);
    if (stored)
        controls[at].text = *stored;
    else if (messageFile && !inFile)
        controls[at].text = passwordBefore;
    return true;
}

QString storedSmtpPassword(const QString& path, SecretStore& secrets)
{
    IniFile ini;
    if (!IniFile::load(path, ini))
        return {};
    const QString inFile = ini.value(kDefaults, kPassword, QString());
    if (!inFile.isEmpty() || !secrets.holdsSecrets())
        return inFile;
    const QString key = smtpSecretKey(ini.value(kDefaults, QStringLiteral("txtSMTPServer"), QString()),
                                      ini.value(kDefaults, QStringLiteral("txtUser"), QString()));
    return secrets.read(key).value_or(QString());
}

} // namespace bv::app
