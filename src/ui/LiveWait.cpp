#include "ui/LiveWait.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>
#include <QWidget>
#include <QWindow>
#include <chrono>

namespace {

// Qt's timers wake the loop in whole milliseconds, and on a busy machine a few
// late: the last stretch before a note ends is left to the precise wait, which
// sleeps most of it too. The window waits that long at most.
constexpr std::chrono::milliseconds PreciseStretch{10};

const QEvent::Type HandOverEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// What the user does: these reach a window from the window system and are
// held while a cell plays.
bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

// A window that a modal dialog opened since blocks takes no input, as when
// the input had come in only now.
bool BlockedByModal(QObject* receiver)
{
    QWidget* modal = QApplication::activeModalWidget();
    auto* window = qobject_cast<QWindow*>(receiver);
    if (modal == nullptr || window == nullptr)
        return false;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowHandle() != window)
            continue;
        for (QWidget* w = top; w != nullptr; w = w->parentWidget())
            if (w == modal)
                return false;
        return true;
    }
    return false;
}

}  // namespace

LiveWait::LiveWait(QWidget* mainWindow, QTimer* tickTimer)
    : QObject(mainWindow), mainWindow_(mainWindow), tickTimer_(tickTimer)
{
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    QCoreApplication::instance()->installEventFilter(this);
}

LiveWait::~LiveWait()
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeEventFilter(this);
}

LiveWait::Playing::Playing(LiveWait& wait) : wait_(wait)
{
    wait_.Begin();
}

LiveWait::Playing::~Playing()
{
    wait_.End();
}

void LiveWait::Begin()
{
    ++playing_;
}

void LiveWait::End()
{
    if (--playing_ > 0)
        return;
    if (closing_) {
        // The program is ending: what the user did meanwhile no longer matters.
        held_.clear();
        tickHeld_ = false;
        return;
    }
    PostHandOver();
}

bool LiveWait::WaitUntil(vocarine::SteadyClock::time_point deadline)
{
    while (!closing_) {
        const auto left = deadline - vocarine::SteadyClock::now();
        if (left <= PreciseStretch)
            break;
        // Rounded up: a timer of 0 ms would turn this loop into a spin.
        wake_.start(std::chrono::ceil<std::chrono::milliseconds>(left - PreciseStretch));
        // Sleeps until something comes in or the wake-up timer fires.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    wake_.stop();
    if (closing_)
        return false;
    vocarine::WaitUntil(deadline);
    return true;
}

bool LiveWait::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Close && playing_ > 0 && mainWindow_ &&
        (watched == mainWindow_ || watched == mainWindow_->windowHandle())) {
        // Closing the main window ends the program: the cell stops here.
        closing_ = true;
        return false;
    }
    if (!Holding() || event == passing_)
        return false;

    if (watched == tickTimer_ && type == QEvent::Timer) {
        if (static_cast<QTimerEvent*>(event)->timerId() != tickTimer_->timerId())
            return false;
        // Ticks are not made up: one is kept, and it comes in its place.
        if (!tickHeld_) {
            tickHeld_ = true;
            held_.push_back({tickTimer_.data(), nullptr});
        }
        return true;
    }

    // Input reaches the program as spontaneous events to its windows.
    if (!watched->isWindowType() || !event->spontaneous())
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Accepted, so that no shortcut fires now: the key press follows and is held.
        event->accept();
        return true;
    }
    if (!IsInput(type))
        return false;
    held_.push_back({watched, std::unique_ptr<QEvent>(event->clone())});
    return true;
}

bool LiveWait::event(QEvent* event)
{
    if (event->type() != HandOverEvent)
        return QObject::event(event);
    handOverPosted_ = false;
    if (playing_ > 0 || held_.empty())
        return true;  // the end of the cell that plays now posts again
    Held next = std::move(held_.front());
    held_.pop_front();
    // One event at a time: should this one open a modal dialog, its event
    // loop hands over the rest.
    if (!held_.empty())
        PostHandOver();
    HandOver(std::move(next));
    return true;
}

void LiveWait::PostHandOver()
{
    if (handOverPosted_ || held_.empty())
        return;
    handOverPosted_ = true;
    QCoreApplication::postEvent(this, new QEvent(HandOverEvent));
}

void LiveWait::HandOver(Held held)
{
    if (!held.receiver)
        return;
    if (!held.event) {
        tickHeld_ = false;
        if (!tickTimer_ || !tickTimer_->isActive())
            return;
        // The one tick after the cell, as from a timer that fell behind: the
        // next comes a whole interval later.
        tickTimer_->start();
        QTimerEvent tick(tickTimer_->timerId());
        passing_ = &tick;
        QCoreApplication::sendEvent(tickTimer_, &tick);
        passing_ = nullptr;
        return;
    }
    if (BlockedByModal(held.receiver))
        return;
    passing_ = held.event.get();
    QCoreApplication::sendEvent(held.receiver, held.event.get());
    passing_ = nullptr;
}
