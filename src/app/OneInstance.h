#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace bv {
class Dialogs;
}

namespace bv::app {

// The single-instance guard. The first copy of the program listens on a local
// socket named after its executable for as long as the guard lives (the
// start-up splash); a copy that reaches it asks the first to bring its main
// window forward and is marked as a second copy, which then ends.
class TOneInstance : public QObject
{
    Q_OBJECT
public:
    enum class State { Created, Found, Failed };

    // guardName is normally executableGuardName(). An owner holds one guard
    // at most: a second throws std::logic_error.
    TOneInstance(Dialogs& dialogs, const QString& guardName, QObject* owner = nullptr);
    ~TOneInstance() override;

    State state() const { return m_state; }
    bool isSecondCopy() const { return m_state == State::Found; }
    QString guardName() const { return m_guardName; }
    // The application title when the guard was loaded; the first copy brings
    // forward the window that carries it.
    QString applicationTitle() const { return m_title; }

    // The file name of the running executable, without its folder.
    static QString executableGuardName();
    // Where the guard of that name listens: in the user's runtime folder when
    // there is one, so that other users' copies do not count.
    static QString serverName(const QString& guardName);

signals:
    // A second copy asked this one to come forward (after it has done so).
    void priorInstanceRaised();

private:
    bool askPriorInstance(QString* failure);
    void listen();
    void bringForward();

    Dialogs& m_dialogs;
    QString m_guardName;
    QString m_title;
    State m_state = State::Failed;
    QLocalServer* m_server = nullptr;
};

} // namespace bv::app
