// The wait between a cell's notes, with the window alive. While a cell plays
// the window repaints, answers the desktop's "are you alive?" ping and serves
// posted events, but the trainer does not move: clicks, keys and menu picks
// that arrive meanwhile are held and handled once the cell has played, in the
// order they came, and the AutoDrive timer's ticks that fall due meanwhile
// are not made up (one comes right after the cell, and the counting goes on
// from there). Closing the main window ends the wait at once.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <memory>

#include "core/PreciseWait.h"

class QEvent;
class QWidget;

class LiveWait : public QObject {
public:
    // `mainWindow`: closing it ends the program and with it the cell.
    // `tickTimer`: the timer whose ticks are held while a cell plays.
    LiveWait(QWidget* mainWindow, QTimer* tickTimer);
    ~LiveWait() override;

    // Marks the span of one cell's playback.
    class Playing {
    public:
        explicit Playing(LiveWait& wait);
        ~Playing();
        Playing(const Playing&) = delete;
        Playing& operator=(const Playing&) = delete;

    private:
        LiveWait& wait_;
    };

    // Serves the window until the deadline, then returns as close to it as the
    // clock allows. False, at once, when the main window is being closed.
    bool WaitUntil(vocarine::SteadyClock::time_point deadline);

    // Whether input and ticks are held now: while a cell plays, and until
    // what was held then has been handled.
    bool Holding() const { return playing_ > 0 || !held_.empty(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;  // null for a tick of the timer
    };

    void Begin();
    void End();
    void PostHandOver();
    void HandOver(Held held);

    QPointer<QWidget> mainWindow_;
    QPointer<QTimer> tickTimer_;
    QTimer wake_;                  // wakes the event loop shortly before a note ends
    int playing_ = 0;
    bool closing_ = false;
    bool handOverPosted_ = false;
    bool tickHeld_ = false;        // a tick is among the held events
    std::deque<Held> held_;
    const QEvent* passing_ = nullptr;  // the held event now being handed over
};
