// The MIDI Setup window: the device list as the layer reports it, switching
// the output port by mouse and keyboard, a device that cannot be opened, and
// the selection kept from one showing to the next.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "WindowsTest.h"
#include "midi/MaxMidi.h"
#include "ui/MidiUnit2.h"
#include "ui/VocarineUnit1.h"

namespace {

const std::string OneCell = "1\n3  0 1  2 1  4 1\n";

class MidiSetupTest : public WindowsTest {
protected:
    void Start(std::vector<bool> openable)
    {
        StartProgram(OneCell, std::move(openable));
        ASSERT_NE(Form1, nullptr);
        ASSERT_NE(Form2, nullptr);
    }

    void ShowSetup()
    {
        Form1->MIDISetup2Click(Form1->MIDISetup2);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form2));
    }

    // Selects entry `row` with the mouse, as the user does.
    static void ClickEntry(int row)
    {
        QListWidgetItem* item = Form2->ListBox1->item(row);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(Form2->ListBox1->viewport(), Qt::LeftButton, {},
                          Form2->ListBox1->visualItemRect(item).center());
    }

    static std::vector<int> SelectedRows()
    {
        std::vector<int> rows;
        for (int i = 0; i < Form2->ListBox1->count(); ++i)
            if (Form2->ListBox1->item(i)->isSelected())
                rows.push_back(i);
        return rows;
    }

    // Whether "Where's Do?" sounds on device `index`.
    bool TonicSoundsOn(int index)
    {
        const std::size_t before = Device(index).Messages().size();
        Form1->TonicButtonClick(Form1->TonicButton);
        const auto& sent = Device(index).Messages();
        return sent.size() == before + 1 && sent.back().status == vocarine::NoteOnStatus;
    }
};

TEST_F(MidiSetupTest, IsDesignedAndListsTheDevicesInOrder)
{
    Start({true, true, true});
    EXPECT_EQ(Form2->windowTitle(), "MIDI Setup");
    EXPECT_FALSE(Form2->isModal());
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_EQ(Form2->ListBox1->geometry(), QRect(43, 27, 207, 146));
    EXPECT_EQ(Form2->Button1->text(), "OK");
    EXPECT_EQ(Form2->Button1->geometry(), QRect(109, 183, 75, 25));

    EXPECT_EQ(Form2->DeviceCount, 3);
    ASSERT_EQ(Form2->ListBox1->count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Form2->ListBox1->item(i)->text(), QString("Recorder %1").arg(i));
        EXPECT_EQ(Form2->ListBox1->visualItemRect(Form2->ListBox1->item(i)).height(), 16);
    }

    ShowSetup();
    EXPECT_EQ(Form2->frameGeometry(), QRect(535, 435, 298, 254));
    // Start-up opened device 0, but the list does not claim to know it.
    EXPECT_TRUE(SelectedRows().empty());
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 0);
}

TEST_F(MidiSetupTest, SelectingAnEntryMovesTheOutputToThatDevice)
{
    Start({true, true, true});
    ShowSetup();
    ClickEntry(2);
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 2);
    EXPECT_EQ(SelectedRows(), std::vector<int>{2});
    // The device left is reset, then closed.
    EXPECT_EQ(Device(0).ResetCount(), 1);
    EXPECT_EQ(Device(0).CloseCount(), 1);
    EXPECT_FALSE(Device(0).IsOpen());
    EXPECT_TRUE(TonicSoundsOn(2));
    EXPECT_TRUE(Device(0).Messages().empty());

    // The keyboard selects too.
    Form2->ListBox1->setFocus();
    QTest::keyClick(Form2->ListBox1, Qt::Key_Up);
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 1);
    EXPECT_FALSE(Device(2).IsOpen());
    EXPECT_TRUE(TonicSoundsOn(1));
}

TEST_F(MidiSetupTest, ClickingTheEntryInUseOpensItAgain)
{
    Start({true, true});
    ShowSetup();
    ClickEntry(1);
    ClickEntry(1);
    EXPECT_EQ(Device(1).OpenCount(), 2);
    EXPECT_EQ(Device(1).ResetCount(), 1);
    EXPECT_EQ(Device(1).CloseCount(), 1);
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 1);
}

TEST_F(MidiSetupTest, ADeviceThatCannotBeOpenedLeavesThePortClosedAndTellsTheUser)
{
    Start({true, true, false});
    ShowSetup();
    ClickEntry(2);
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
    EXPECT_FALSE(Device(0).IsOpen());
    EXPECT_TRUE(Form1->StatusText().contains("Recorder 2")) << Form1->StatusText().toStdString();
    EXPECT_TRUE(Form2->ListBox1->item(2)->toolTip().contains("Recorder 2"));
    Form1->TonicButtonClick(Form1->TonicButton);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(Device(i).Messages().empty());

    // A working device afterwards opens, and the complaint goes.
    ClickEntry(1);
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 1);
    EXPECT_FALSE(Form1->StatusText().contains("Recorder 2")) << Form1->StatusText().toStdString();
    EXPECT_TRUE(TonicSoundsOn(1));
}

TEST_F(MidiSetupTest, AFailedStartUpOpenIsToldAndASelectionOpensADevice)
{
    Start({false, true});
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
    EXPECT_TRUE(Form1->StatusText().contains("Recorder 0")) << Form1->StatusText().toStdString();
    ShowSetup();
    ClickEntry(1);
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 1);
    EXPECT_EQ(Device(0).CloseCount(), 0);
    EXPECT_TRUE(TonicSoundsOn(1));
}

TEST_F(MidiSetupTest, OkHidesTheWindowAndTheNextShowingKeepsTheSelection)
{
    Start({true, true, true});
    ShowSetup();
    ClickEntry(1);
    QTest::mouseClick(Form2->Button1, Qt::LeftButton);
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 1);

    ShowSetup();
    EXPECT_EQ(SelectedRows(), std::vector<int>{1});
    EXPECT_EQ(Form2->DeviceCount, 3);
    // Showing again switches nothing.
    EXPECT_EQ(Device(1).OpenCount(), 1);

    Form2->close();
    EXPECT_FALSE(Form2->isVisible());
    ShowSetup();
    EXPECT_EQ(SelectedRows(), std::vector<int>{1});
}

TEST_F(MidiSetupTest, WithNoDeviceTheListIsEmpty)
{
    Start({});
    EXPECT_EQ(Form2->DeviceCount, 0);
    EXPECT_EQ(Form2->ListBox1->count(), 0);
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
    ShowSetup();
    Form2->ListBox1->setFocus();
    QTest::keyClick(Form2->ListBox1, Qt::Key_Down);
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
}

}  // namespace
