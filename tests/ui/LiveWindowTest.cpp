// The window while a cell plays: it paints and serves posted events and other
// timers, while clicks and the AutoDrive timer's ticks that arrive meanwhile
// wait until the cell has played. Input is put in the window system's queue as
// a desktop would, so it arrives while the cell plays.
#include <gtest/gtest.h>

#include <qpa/qwindowsysteminterface.h>

#include <QElapsedTimer>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "WindowsTest.h"
#include "core/Keys.h"
#include "midi/MaxMidi.h"
#include "ui/Application.h"
#include "ui/AutoUnit3.h"
#include "ui/RadioGroup.h"
#include "ui/VocarineUnit1.h"

namespace {

using LiveWindowTest = WindowsTest;

// One cell: do re mi of the lowest octave, keys 48, 50 and 52 in C.
const std::string OneCell = "1\n3 0 1 1 1 2 1\n";
// W: two notes held for more than two ticks of the one-second timer.
constexpr int NoteLength = 1100;
constexpr std::size_t CellMessages = 5;  // on, off, on, off, on

// A click as the window system delivers it: queued, handled when the program gets to it.
void QueueClick(QWidget* widget)
{
    QWindow* window = widget->window()->windowHandle();
    const QPointF local = widget->mapTo(widget->window(), widget->rect().center());
    const QPointF global = widget->mapToGlobal(widget->rect().center());
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

// Notes each tick of a timer as it is handled: how many messages had been
// sent by then, and when.
class TickLog : public QObject {
public:
    struct Tick {
        std::size_t sent;
        std::chrono::steady_clock::time_point at;
    };
    TickLog(QTimer* timer, std::function<std::size_t()> sent) : QObject(timer), sent_(std::move(sent))
    {
        timer->installEventFilter(this);
    }
    std::vector<Tick> ticks;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            ticks.push_back({sent_(), std::chrono::steady_clock::now()});
        return false;
    }

private:
    std::function<std::size_t()> sent_;
};

// A widget that notes how many messages had been sent when it was first painted.
class PaintProbe : public QWidget {
public:
    PaintProbe(QWidget* parent, std::function<std::size_t()> sent) : QWidget(parent), sent_(std::move(sent)) {}
    std::optional<std::size_t> paintedAt;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), Qt::red);
        if (!paintedAt)
            paintedAt = sent_();
    }

private:
    std::function<std::size_t()> sent_;
};

TEST_F(LiveWindowTest, PaintsAndPostedEventsAreServedWhileACellPlaysButClicksAndTicksWaitForItsEnd)
{
    for (const bool autoDrive : {false, true}) {
        SCOPED_TRACE(autoDrive ? "played by the AutoDrive" : "played by hand");
        StartProgram(OneCell);
        Form1->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
        Form1->TrackBar1->setValue(2000 - NoteLength);
        const auto sent = [this] { return Device(0).Messages().size(); };

        auto* probe = new PaintProbe(Form1->centralWidget(), sent);
        probe->setGeometry(0, 0, 8, 8);
        probe->show();
        ASSERT_TRUE(WaitFor([&] { return probe->paintedAt.has_value(); }, 2000));
        probe->paintedAt.reset();

        auto* tickLog = new TickLog(Form1->Timer1, sent);
        const auto& ticks = tickLog->ticks;
        const auto ticksAfterTheCell = [&] {
            return std::count_if(ticks.begin(), ticks.end(), [](const auto& t) { return t.sent >= CellMessages; });
        };

        // Another timer of the program goes on while the cell plays: once the
        // first note sounds, it asks for a paint, posts an event and queues a
        // click on "Where's Do?".
        std::optional<std::size_t> postedAt;
        bool queued = false;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (queued || sent() == 0)
                return;
            queued = true;
            probe->paintedAt.reset();
            probe->update();
            QTimer::singleShot(0, probe, [&] { postedAt = sent(); });
            QueueClick(Form1->TonicButton);
        });
        watch.start();

        if (autoDrive) {
            AutoForm->RadioGroup1->SetItemIndex(1);  // Dictation Mode: the cell plays at the next tick
            AutoForm->Button1->click();
        } else {
            QueueClick(Form1->PlayButton);
        }
        ASSERT_TRUE(WaitFor([&] { return sent() > CellMessages; }, 20000));
        ASSERT_TRUE(WaitFor([&] { return ticksAfterTheCell() >= 2; }, 5000));

        const auto& messages = Device(0).Messages();
        const uint8_t cellKeys[] = {48, 48, 50, 50, 52};
        for (std::size_t i = 0; i < CellMessages; ++i)
            EXPECT_EQ(messages[i].data1, cellKeys[i]) << i;
        // The click came in while the cell played and was handled after it.
        EXPECT_EQ(messages[CellMessages].status, vocarine::NoteOnStatus);
        EXPECT_EQ(messages[CellMessages].data1, vocarine::TonicKey(0));
        // The paint and the posted event were served while it played.
        ASSERT_TRUE(probe->paintedAt.has_value());
        EXPECT_GE(*probe->paintedAt, 1u);
        EXPECT_LT(*probe->paintedAt, CellMessages);
        ASSERT_TRUE(postedAt.has_value());
        EXPECT_GE(*postedAt, 1u);
        EXPECT_LT(*postedAt, CellMessages);
        // No tick was handled while the cell played. Two or more fell due
        // meanwhile; one comes after the cell, and the next only a whole
        // interval after that: none is made up.
        std::vector<TickLog::Tick> after;
        for (const auto& tick : ticks) {
            EXPECT_TRUE(tick.sent == 0 || tick.sent >= CellMessages) << tick.sent;
            if (tick.sent >= CellMessages)
                after.push_back(tick);
        }
        ASSERT_GE(after.size(), 2u);
        EXPECT_GE(after[1].at - after[0].at, std::chrono::milliseconds(900));

        watch.stop();
        DestroyWindows();
    }
}

TEST_F(LiveWindowTest, ClosingTheMainWindowWhileACellPlaysStopsItAtOnce)
{
    std::vector<std::string> log;
    LoggingDevice* device = nullptr;
    vocarine::TMaxMidi::SetDeviceProvider([&] {
        vocarine::MidiDeviceList list;
        auto owned = std::make_unique<LoggingDevice>(log);
        device = owned.get();
        list.push_back(std::move(owned));
        return list;
    });
    WriteFile("majortonic.txt", OneCell);
    CreateWindows();
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    Form1->TrackBar1->setValue(2000 - NoteLength);

    // While the first note sounds: a click, then the desktop closes the window.
    bool queued = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (queued || device->Messages().empty())
            return;
        queued = true;
        QueueClick(Form1->TonicButton);
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::AsynchronousDelivery>(Form1->windowHandle());
    });
    watch.start();

    Form1->PlayButton->click();
    watch.stop();

    // The first note was ended and no other played; the click is dropped.
    const auto& messages = device->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].status, vocarine::NoteOnStatus);
    EXPECT_EQ(messages[1].status, vocarine::NoteOffStatus);
    EXPECT_EQ(messages[1].data1, messages[0].data1);
    EXPECT_FALSE(Form1->isVisible());
    QTest::qWait(50);
    EXPECT_EQ(messages.size(), 2u);

    log.clear();
    DestroyWindows();
    EXPECT_EQ(log, (std::vector<std::string>{"reset", "close", "gone"}));
}

}  // namespace
