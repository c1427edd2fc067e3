#pragma once

#include <QDialog>

class QLabel;

namespace bv {
class Clock;
class Dialogs;
class Timer;
} // namespace bv

namespace bv::app {

class TOneInstance;

enum class SplashMode { StartUp, About };

// The splash, also the About window. It opens 100 pixels larger than its
// client area of 436 x 224 and shrinks back towards it, staying centred; then
// it holds for four seconds. At start-up it closes by itself and ignores the
// user; in About mode it stays until a key press or a click.
class TForm_Splash : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kClientWidth = 436;
    static constexpr int kClientHeight = 224;
    static constexpr int kTickMs = 20;
    static constexpr int kHoldMs = 4000;

    // A non-empty guardName loads the single-instance guard with the splash.
    TForm_Splash(Clock& clock, Dialogs& dialogs, SplashMode mode, const QString& guardName = {},
                 QWidget* parent = nullptr);
    ~TForm_Splash() override;

    SplashMode mode() const { return m_mode; }
    TOneInstance* oneInstance() const { return OneInstance1; }

    QLabel* imgAllIcon = nullptr;
    QLabel* lblApp = nullptr;
    Timer* Timer1 = nullptr;
    TOneInstance* OneInstance1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void tick();
    void closeByTimer();

    SplashMode m_mode;
    bool m_holding = false;
    bool m_timerClosing = false;
    bool m_shownOnce = false;
};

} // namespace bv::app
