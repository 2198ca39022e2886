// The AutoDrive panel: its controls, its handlers, its place beside the main
// window, and the AutoDrive running on the real one-second timer.
#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <vector>

#include "WindowsTest.h"
#include "core/Keys.h"
#include "core/Random.h"
#include "ui/AutoUnit3.h"
#include "ui/RadioGroup.h"
#include "ui/UpDown.h"
#include "ui/VocarineUnit1.h"

namespace {

// Four cells of different lengths, all within the note table.
const std::string FourCells =
    "4\n"
    "3  0 1  2 1  4 1\n"
    "2  7 1  9 1\n"
    "4  4 1  5 1  7 1  11 1\n"
    "1  14 1\n";

// A radio button reacts to a click on its indicator, at its left end.
void ClickRadio(QRadioButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

std::vector<uint8_t> NoteOnKeys(const vocarine::RecordingDevice& device)
{
    std::vector<uint8_t> keys;
    for (const auto& message : device.Messages())
        if (message.status == vocarine::NoteOnStatus)
            keys.push_back(message.data1);
    return keys;
}

std::vector<uint8_t> CellKeys(const vocarine::TrainerState& state, int32_t cell)
{
    std::vector<uint8_t> keys;
    const vocarine::Cell& c = state.Cells[static_cast<std::size_t>(cell)];
    for (int32_t i = 0; i < c.count; ++i)
        keys.push_back(vocarine::CellNoteKey(state, c.notes[static_cast<std::size_t>(i)]));
    return keys;
}

// The staff shows `cell`: its syllables in the first columns, nothing after.
void ExpectCellOnStaff(const TForm1& form, int32_t cell)
{
    const vocarine::Cell& c = form.State.Cells[static_cast<std::size_t>(cell)];
    for (int j = 0; j < 10; ++j) {
        const QLabel* label = form.NoteLabels[static_cast<std::size_t>(j)];
        if (j < c.count) {
            const auto& note = c.notes[static_cast<std::size_t>(j)];
            EXPECT_FALSE(label->isHidden()) << "column " << j;
            EXPECT_EQ(label->text().toStdString(),
                      form.State.NoteTable[vocarine::NoteIndex(note.degree, note.accidental)].syllable)
                << "column " << j;
        } else {
            EXPECT_TRUE(label->isHidden()) << "column " << j;
        }
    }
}

bool StaffEmpty(const TForm1& form)
{
    for (const QLabel* label : form.NoteLabels)
        if (!label->isHidden())
            return false;
    return true;
}

class AutoDriveWindowTest : public WindowsTest {
protected:
    // The panel as the user has it: started, then opened from the menu. The
    // timer stays quiet unless a test wants real ticks.
    void Start(bool realTimer = false)
    {
        StartProgram(FourCells);
        ASSERT_NE(Form1, nullptr);
        ASSERT_NE(AutoForm, nullptr);
        vocarine::SeedRandom(11);
        if (!realTimer)
            Form1->Timer1->stop();
        Form1->AutoDrive1->trigger();
    }
};

TEST_F(AutoDriveWindowTest, StartsWithTheDesignedControlsAndContents)
{
    StartProgram(FourCells);
    EXPECT_TRUE(AutoForm->isHidden());
    EXPECT_EQ(AutoForm->windowTitle(), "AutoDrive");
    EXPECT_TRUE(AutoForm->isWindow());

    struct Expected {
        QWidget* control;
        QString text;  // empty for controls without one
        int left, top, width, height;  // width -1: sizes itself to its text
    };
    const TAutoForm& p = *AutoForm;
    const std::vector<Expected> table = {
        {p.RadioGroup1, {}, 17, 22, 144, 78},
        {p.Label1, "Display", 183, 56, -1, -1},
        {p.StaticText1, "wait", 264, 32, -1, -1},
        {p.Label2, "5", 262, 54, -1, -1},
        {p.UpDown1, {}, 280, 55, 16, 24},
        {p.StaticText2, "seconds", 254, 83, -1, -1},
        {p.Label3, "Play", 336, 58, -1, -1},
        {p.StaticText3, "wait", 406, 33, -1, -1},
        {p.Label4, "5", 404, 55, -1, -1},
        {p.UpDown2, {}, 422, 56, 16, 24},
        {p.StaticText4, "seconds", 396, 84, -1, -1},
        {p.StaticText5, "Do each cell", 226, 127, -1, -1},
        {p.Label5, "5", 311, 122, -1, -1},
        {p.UpDown3, {}, 329, 123, 16, 24},
        {p.StaticText6, "times", 356, 126, -1, -1},
        {p.Button1, "START", 28, 117, 125, 35},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.control->objectName().toStdString());
        EXPECT_EQ(e.control->parentWidget(), AutoForm);
        EXPECT_EQ(e.control->pos(), QPoint(e.left, e.top));
        if (e.width >= 0) {
            EXPECT_EQ(e.control->size(), QSize(e.width, e.height));
        }
        if (auto* label = qobject_cast<QLabel*>(e.control)) {
            EXPECT_EQ(label->text(), e.text);
            EXPECT_GE(label->width(), label->sizeHint().width());  // the whole text shows
        }
        if (auto* button = qobject_cast<QPushButton*>(e.control)) {
            EXPECT_EQ(button->text(), e.text);
        }
    }
    EXPECT_EQ(p.Label2->font().pixelSize(), 20);  // 12 points at 120 pixels per inch
    EXPECT_EQ(p.Label1->font().pixelSize(), 17);  // 10 points

    EXPECT_EQ(p.RadioGroup1->title(), "");
    ASSERT_EQ(p.RadioGroup1->Count(), 2);
    EXPECT_EQ(p.RadioGroup1->Item(0)->text(), "Singing Mode");
    EXPECT_EQ(p.RadioGroup1->Item(1)->text(), "Dictation Mode");
    EXPECT_EQ(p.RadioGroup1->ItemIndex(), 0);

    for (auto [upDown, max] : {std::pair{p.UpDown1, 30}, {p.UpDown2, 30}, {p.UpDown3, 100}}) {
        EXPECT_EQ(upDown->Min(), 1);
        EXPECT_EQ(upDown->Max(), max);
        EXPECT_EQ(upDown->Position(), 5);
    }

    // What the sequencer reads.
    EXPECT_FALSE(p.IsRunning());
    EXPECT_TRUE(p.IsSingingMode());
    EXPECT_EQ(p.FirstWait(), 5);
    EXPECT_EQ(p.SecondWait(), 5);
    EXPECT_EQ(p.Repetitions(), 5);
}

TEST_F(AutoDriveWindowTest, ArrowsWriteTheLabelAndStopAtTheEndsOfTheRange)
{
    Start();
    struct Case {
        TUpDown* upDown;
        QLabel* label;
        int max;
    };
    for (const Case& c : {Case{AutoForm->UpDown1, AutoForm->Label2, 30}, Case{AutoForm->UpDown2, AutoForm->Label4, 30},
                          Case{AutoForm->UpDown3, AutoForm->Label5, 100}}) {
        SCOPED_TRACE(c.upDown->objectName().toStdString());
        QSignalSpy clicks(c.upDown, &TUpDown::Click);

        QTest::mouseClick(c.upDown->UpArrow(), Qt::LeftButton);
        EXPECT_EQ(c.upDown->Position(), 6);
        EXPECT_EQ(c.label->text(), "6");
        QTest::mouseClick(c.upDown->DownArrow(), Qt::LeftButton);
        QTest::mouseClick(c.upDown->DownArrow(), Qt::LeftButton);
        EXPECT_EQ(c.label->text(), "4");
        EXPECT_EQ(clicks.count(), 3);

        // One below the top: the first click reaches it, the second does nothing.
        c.upDown->SetPosition(c.max - 1);
        QTest::mouseClick(c.upDown->UpArrow(), Qt::LeftButton);
        EXPECT_EQ(c.label->text(), QString::number(c.max));
        QTest::mouseClick(c.upDown->UpArrow(), Qt::LeftButton);
        EXPECT_EQ(c.upDown->Position(), c.max);
        EXPECT_EQ(clicks.count(), 4);

        c.upDown->SetPosition(2);
        QTest::mouseClick(c.upDown->DownArrow(), Qt::LeftButton);
        EXPECT_EQ(c.label->text(), "1");
        c.label->setText("untouched");
        QTest::mouseClick(c.upDown->DownArrow(), Qt::LeftButton);
        EXPECT_EQ(c.upDown->Position(), 1);
        EXPECT_EQ(c.label->text(), "untouched");
        EXPECT_EQ(clicks.count(), 5);

        // The arrow keys step a focused up-down the same way.
        c.upDown->SetPosition(c.max);
        QTest::keyClick(c.upDown, Qt::Key_Down);
        EXPECT_EQ(c.label->text(), QString::number(c.max - 1));
        QTest::keyClick(c.upDown, Qt::Key_Up);
        QTest::keyClick(c.upDown, Qt::Key_Up);
        EXPECT_EQ(c.upDown->Position(), c.max);
        EXPECT_EQ(clicks.count(), 7);
    }
    // The sequencer reads the new positions at once.
    EXPECT_EQ(AutoForm->FirstWait(), 30);
    EXPECT_EQ(AutoForm->SecondWait(), 30);
    EXPECT_EQ(AutoForm->Repetitions(), 100);
}

TEST(UpDownTest, KeepsItsRangeAndPositionWithinSixteenBits)
{
    TUpDown upDown;
    upDown.SetRange(40000, -40000);
    EXPECT_EQ(upDown.Min(), TUpDown::Lowest);
    EXPECT_EQ(upDown.Max(), TUpDown::Highest);
    upDown.SetRange(1, 30);
    upDown.SetPosition(31);
    EXPECT_EQ(upDown.Position(), 30);
    upDown.SetPosition(-3);
    EXPECT_EQ(upDown.Position(), 1);
    upDown.SetPosition(20);
    upDown.SetRange(1, 10);
    EXPECT_EQ(upDown.Position(), 10);
}

TEST_F(AutoDriveWindowTest, ModeSwitchSwapsTheStepNamesAndNothingElse)
{
    Start();
    Form1->State.DisplayCountdown = 3;
    Form1->State.PlayCountdown = 0;
    QSignalSpy clicks(AutoForm->RadioGroup1, &TRadioGroup::Click);

    struct Step {
        int item;
        const char* first;
        const char* second;
        int clicks;
    };
    // Clicking the item that is already selected is no change.
    for (const Step& s : {Step{1, "Play", "Display", 1}, Step{1, "Play", "Display", 1}, Step{0, "Display", "Play", 2}}) {
        ClickRadio(AutoForm->RadioGroup1->Item(s.item));
        EXPECT_EQ(AutoForm->RadioGroup1->ItemIndex(), s.item);
        EXPECT_EQ(AutoForm->IsSingingMode(), s.item == 0);
        EXPECT_EQ(AutoForm->Label1->text(), s.first);
        EXPECT_EQ(AutoForm->Label3->text(), s.second);
        EXPECT_EQ(clicks.count(), s.clicks);
        EXPECT_EQ(Form1->State.DisplayCountdown, 3);
        EXPECT_EQ(Form1->State.PlayCountdown, 0);
        EXPECT_EQ(AutoForm->Button1->text(), "START");
    }
}

TEST_F(AutoDriveWindowTest, StartSetsOnlyTheCountdownOfTheModesFirstStepAndStopLeavesBoth)
{
    Start();
    struct Case {
        int mode;
        int32_t display, play;               // before START
        int32_t displayAfter, playAfter;     // after START, and after STOP
    };
    const std::vector<Case> table = {
        {0, 0, 0, -1, 0},
        {0, 0, 3, -1, 3},  // a wait after Play that STOP cut short goes on
        {1, 0, 0, 0, -1},
        {1, 2, 0, 2, -1},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << ", " << c.display << " / " << c.play);
        if (AutoForm->RadioGroup1->ItemIndex() != c.mode)
            ClickRadio(AutoForm->RadioGroup1->Item(c.mode));
        Form1->State.DisplayCountdown = c.display;
        Form1->State.PlayCountdown = c.play;
        ASSERT_EQ(AutoForm->Button1->text(), "START");

        QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
        EXPECT_EQ(AutoForm->Button1->text(), "STOP");
        EXPECT_TRUE(AutoForm->IsRunning());
        EXPECT_EQ(Form1->State.DisplayCountdown, c.displayAfter);
        EXPECT_EQ(Form1->State.PlayCountdown, c.playAfter);

        QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
        EXPECT_EQ(AutoForm->Button1->text(), "START");
        EXPECT_FALSE(AutoForm->IsRunning());
        EXPECT_EQ(Form1->State.DisplayCountdown, c.displayAfter);
        EXPECT_EQ(Form1->State.PlayCountdown, c.playAfter);
    }
}

TEST_F(AutoDriveWindowTest, ShowingFitsThePanelOnlyWhenItWasHidden)
{
    Start();
    ASSERT_TRUE(AutoForm->isVisible());
    const QSize designed(AutoForm->UpDown2->x() + 80, AutoForm->Button1->y() + AutoForm->Button1->height() + 50);
    EXPECT_EQ(designed, QSize(502, 202));
    EXPECT_EQ(AutoForm->frameGeometry().size(), designed);

    // A size the user gave the panel stays while it is open, also through the menu.
    AutoForm->resize(320, 150);
    const QSize dragged = AutoForm->frameGeometry().size();
    Form1->AutoDrive1->trigger();
    EXPECT_EQ(AutoForm->frameGeometry().size(), dragged);

    AutoForm->close();
    Form1->AutoDrive1->trigger();
    EXPECT_EQ(AutoForm->frameGeometry().size(), designed);
}

TEST_F(AutoDriveWindowTest, MenuPlacesThePanelBesideTheCounterEvenWhenAlreadyOpen)
{
    StartProgram(FourCells);
    Form1->Timer1->stop();
    const auto expectedPlace = [] {
        // The counter's place in the main window, taken as a place on the screen.
        return QPoint(Form1->Label1->x() + Form1->Label1->width() + 20, Form1->frameGeometry().top());
    };

    Form1->move(150, 90);
    Form1->AutoDrive1->trigger();
    EXPECT_TRUE(AutoForm->isVisible());
    EXPECT_EQ(AutoForm->frameGeometry().topLeft(), expectedPlace());

    // The user drags the panel away and moves the main window; a longer
    // counter text widens the label. The menu brings the panel back beside it.
    AutoForm->move(600, 600);
    Form1->move(40, 260);
    Form1->State.CurrentCell = 3;
    Form1->ShowCellCounter();
    Form1->AutoDrive1->trigger();
    EXPECT_TRUE(AutoForm->isVisible());
    EXPECT_EQ(AutoForm->frameGeometry().topLeft(), expectedPlace());
    EXPECT_EQ(AutoForm->frameGeometry().top(), 260);
}

TEST_F(AutoDriveWindowTest, ClosingOnlyHidesThePanelAndAutoDriveGoesOn)
{
    Start();
    QPointer<TAutoForm> panel = AutoForm;
    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
    ASSERT_EQ(Form1->State.DisplayCountdown, -1);

    EXPECT_TRUE(AutoForm->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(panel.isNull());
    EXPECT_TRUE(AutoForm->isHidden());
    EXPECT_EQ(AutoForm->Button1->text(), "STOP");

    // The next tick takes the first step as if the panel were open.
    Form1->Timer1Timer(Form1);
    EXPECT_EQ(Form1->State.DisplayCountdown, 4);
    EXPECT_EQ(AutoForm->Label2->text(), "5");
    EXPECT_EQ(Form1->State.CellRepeats[static_cast<std::size_t>(Form1->State.CurrentCell)], 1);
    ExpectCellOnStaff(*Form1, Form1->State.CurrentCell);
}

// The whole chain on the real one-second timer: panel, tick, staff, counter and output.
TEST_F(AutoDriveWindowTest, SingingModeOnTheTimerPlaysTheCellThatIsShown)
{
    Start(/*realTimer=*/true);
    ASSERT_TRUE(Form1->Timer1->isActive());
    Form1->TrackBar1->setValue(2000);  // notes without a wait
    AutoForm->UpDown1->SetPosition(1);
    AutoForm->UpDown2->SetPosition(1);
    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);

    // Shown at the first tick, played at the second.
    ASSERT_TRUE(WaitFor([&] { return !Device(0).Messages().empty(); }, 10000));
    const int32_t cell = Form1->State.CurrentCell;
    EXPECT_NE(cell, 0);  // another cell was eligible
    EXPECT_EQ(NoteOnKeys(Device(0)), CellKeys(Form1->State, cell));
    ExpectCellOnStaff(*Form1, cell);
    EXPECT_EQ(Form1->Label1->text().toStdString(), vocarine::CellCounterText(Form1->State));
    EXPECT_EQ(Form1->State.CellRepeats[static_cast<std::size_t>(cell)], 1);

    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
    EXPECT_EQ(AutoForm->Button1->text(), "START");
}

TEST_F(AutoDriveWindowTest, DictationModeOnTheTimerPlaysBeforeItShows)
{
    Start(/*realTimer=*/true);
    Form1->TrackBar1->setValue(2000);
    AutoForm->UpDown1->SetPosition(1);
    AutoForm->UpDown2->SetPosition(2);  // at 1 the cell would be hidden in the tick that shows it
    ClickRadio(AutoForm->RadioGroup1->Item(1));
    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);

    ASSERT_TRUE(WaitFor([&] { return !Device(0).Messages().empty(); }, 10000));
    const int32_t cell = Form1->State.CurrentCell;
    const std::vector<uint8_t> played = NoteOnKeys(Device(0));
    EXPECT_EQ(played, CellKeys(Form1->State, cell));
    EXPECT_TRUE(StaffEmpty(*Form1));

    ASSERT_TRUE(WaitFor([&] { return !StaffEmpty(*Form1); }, 10000));
    EXPECT_EQ(Form1->State.CurrentCell, cell);
    ExpectCellOnStaff(*Form1, cell);
    EXPECT_EQ(NoteOnKeys(Device(0)), played);  // nothing played in between
    EXPECT_EQ(Form1->Label1->text().toStdString(), vocarine::CellCounterText(Form1->State));

    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
}

}  // namespace
