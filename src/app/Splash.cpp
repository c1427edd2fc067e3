#include "app/Splash.h"

#include "app/OneInstance.h"
#include "app/ProgramIcon.h"
#include "app/Version.h"
#include "core/Clock.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace bv::app {

namespace {
constexpr int kGrowBy = 100;
constexpr int kShrinkBy = 8;
constexpr int kStopHeight = 258;
constexpr int kStopWidth = 444;
} // namespace

TForm_Splash::TForm_Splash(Clock& clock, Dialogs& dialogs, SplashMode mode, const QString& guardName,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_mode(mode)
{
    setObjectName(QStringLiteral("Form_Splash"));
    setWindowTitle(QStringLiteral("Splash"));
    setAccessibleName(QStringLiteral("Splash"));
    setModal(true);
    resize(kClientWidth, kClientHeight);

    imgAllIcon = new QLabel(this);
    imgAllIcon->setObjectName(QStringLiteral("imgAllIcon"));
    imgAllIcon->setAccessibleName(QStringLiteral("Program icon"));
    imgAllIcon->setPixmap(programPixmap(72));

    lblApp = new QLabel(QStringLiteral("Brevicast"), this);
    lblApp->setObjectName(QStringLiteral("lblApp"));
    QFont big = lblApp->font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    lblApp->setFont(big);
    lblApp->setStyleSheet(QStringLiteral("color: white;"));

    auto* row = new QHBoxLayout(this);
    row->addStretch();
    row->addWidget(imgAllIcon);
    row->addSpacing(16);
    row->addWidget(lblApp);
    row->addStretch();

    Timer1 = clock.createTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTickMs);
    connect(Timer1, &Timer::timeout, this, &TForm_Splash::tick);

    if (!guardName.isEmpty())
        OneInstance1 = new TOneInstance(dialogs, guardName, this);
}

TForm_Splash::~TForm_Splash() = default;

void TForm_Splash::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    const QSize size(width() + kGrowBy, height() + kGrowBy);
    QRect area(QPoint(0, 0), size);
    if (const QScreen* s = screen())
        area.moveCenter(s->availableGeometry().center());
    setGeometry(area);
    lblApp->setText(lblApp->text() + QLatin1Char(' ') + QLatin1String(kVersionText));
    Timer1->start();
}

void TForm_Splash::tick()
{
    if (height() > kStopHeight && width() > kStopWidth) {
        const QRect g = geometry();
        setGeometry(g.x() + kShrinkBy / 2, g.y() + kShrinkBy / 2, g.width() - kShrinkBy, g.height() - kShrinkBy);
        return;
    }
    if (!m_holding) {
        m_holding = true;
        Timer1->setInterval(kHoldMs);
        return;
    }
    if (m_mode == SplashMode::StartUp)
        closeByTimer();
    else
        Timer1->setInterval(kHoldMs);
}

void TForm_Splash::closeByTimer()
{
    Timer1->stop();
    m_timerClosing = true;
    accept();
}

void TForm_Splash::closeEvent(QCloseEvent* event)
{
    if (m_mode == SplashMode::StartUp && !m_timerClosing) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm_Splash::keyPressEvent(QKeyEvent* event)
{
    // At start-up not even Escape ends the splash early.
    if (m_mode == SplashMode::About)
        accept();
    event->accept();
}

void TForm_Splash::mousePressEvent(QMouseEvent* event)
{
    if (m_mode == SplashMode::About)
        accept();
    QDialog::mousePressEvent(event);
}

void TForm_Splash::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, QColor(0x2f, 0x7f, 0xd8));
    fill.setColorAt(1, QColor(0x12, 0x3a, 0x82));
    p.fillRect(rect(), fill);
    p.setPen(QColor(0x0b, 0x24, 0x55));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace bv::app
