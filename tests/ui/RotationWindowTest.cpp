// Keep and Move On through the main window's buttons: the staff is cleared,
// the counter rewritten, and the done flags and the pool follow the rotation.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <string>

#include "WindowsTest.h"
#include "core/Random.h"
#include "ui/VocarineUnit1.h"

namespace {

// A book of `count` cells of one to three notes.
std::string Book(int count)
{
    std::string text = std::to_string(count) + "\n";
    for (int i = 0; i < count; ++i) {
        const int notes = 1 + i % 3;
        text += std::to_string(notes);
        for (int n = 0; n < notes; ++n)
            text += " " + std::to_string((i + n) % 21) + " 1";
        text += "\n";
    }
    return text;
}

class RotationWindowTest : public WindowsTest {
protected:
    void Start(int cells)
    {
        StartProgram(Book(cells));
        ASSERT_NE(Form1, nullptr);
        Form1->Timer1->stop();
    }

    static bool StaffEmpty()
    {
        for (const QLabel* label : Form1->NoteLabels)
            if (!label->isHidden())
                return false;
        return true;
    }

    static void Display()
    {
        QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
        ASSERT_FALSE(StaffEmpty());
    }

    static std::string Counter() { return Form1->Label1->text().toStdString(); }
};

TEST_F(RotationWindowTest, KeepHidesTheCellAndMovesToAnotherInThePool)
{
    Start(9);
    vocarine::SeedRandom(5);
    for (int press = 0; press < 20; ++press) {
        const int32_t before = Form1->State.CurrentCell;
        Display();
        QTest::mouseClick(Form1->KeepButton, Qt::LeftButton);
        const int32_t now = Form1->State.CurrentCell;
        EXPECT_TRUE(StaffEmpty());
        EXPECT_NE(now, before);
        EXPECT_GE(now, 0);
        EXPECT_LE(now, 3);
        EXPECT_EQ(Counter(), "cell " + std::to_string(now + 1) + " of 9");
    }
    EXPECT_EQ(Form1->State.PoolLimit, 3);
    for (uint8_t done : Form1->State.CellDone)
        EXPECT_EQ(done, 0);
}

TEST_F(RotationWindowTest, MoveOnMarksTheCellDoneAndWidensThePool)
{
    Start(9);
    // Draws that are not eligible are thrown away: 0 is done, 2 is current.
    ScriptedDraws draws({0, 2, 2, 5, 1});
    const struct {
        int32_t marked;
        int32_t poolLimit;
        int32_t next;
    } presses[] = {{0, 5, 2}, {2, 7, 5}, {5, 8, 1}};
    for (const auto& p : presses) {
        SCOPED_TRACE(::testing::Message() << "moving on from cell " << p.marked);
        ASSERT_EQ(Form1->State.CurrentCell, p.marked);
        Display();
        QTest::mouseClick(Form1->DiscardButton, Qt::LeftButton);
        EXPECT_TRUE(StaffEmpty());
        EXPECT_EQ(Form1->State.CellDone[static_cast<std::size_t>(p.marked)], 1);
        EXPECT_EQ(Form1->State.PoolLimit, p.poolLimit);
        EXPECT_EQ(Form1->State.CurrentCell, p.next);
        EXPECT_EQ(Counter(), "cell " + std::to_string(p.next + 1) + " of 9");
    }
    EXPECT_EQ(draws.Left(), 0u);
    int doneCount = 0;
    for (uint8_t done : Form1->State.CellDone)
        doneCount += done;
    EXPECT_EQ(doneCount, 3);
}

TEST_F(RotationWindowTest, OneCellBookStaysOnItsCell)
{
    Start(1);
    Display();
    QTest::mouseClick(Form1->KeepButton, Qt::LeftButton);
    EXPECT_TRUE(StaffEmpty());
    EXPECT_EQ(Form1->State.CurrentCell, 0);
    EXPECT_EQ(Counter(), "cell 1 of 1");

    Display();
    QTest::mouseClick(Form1->DiscardButton, Qt::LeftButton);
    EXPECT_TRUE(StaffEmpty());
    EXPECT_EQ(Form1->State.CellDone[0], 1);
    EXPECT_EQ(Form1->State.CurrentCell, 0);
    EXPECT_EQ(Counter(), "cell 1 of 1");

    // Every cell done: both buttons leave the cell current and only hide it.
    for (QPushButton* button : {Form1->KeepButton, Form1->DiscardButton}) {
        Display();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(StaffEmpty());
        EXPECT_EQ(Form1->State.CurrentCell, 0);
        EXPECT_EQ(Counter(), "cell 1 of 1");
    }
}

}  // namespace
