// The Microphone Setup window and the start-up open of the microphone: the
// list with "None" first, switching the input by mouse and keyboard, a failed
// open and a failing input told in the status line, the level meter, and
// the "Any octave" choice.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <future>

#include "WindowsTest.h"
#include "audio/WavFileDevice.h"
#include "ui/Application.h"
#include "ui/MicUnit4.h"
#include "ui/VocarineUnit1.h"

namespace {

using vocarine::WavAudio;
using vocarine::WavFileDevice;

const std::string OneCell = "1\n3  0 1  2 1  4 1\n";

struct Input {
    std::string name;
    float amplitude = 0.0f;  // of a 220 Hz tone; 0 is silence
    bool isDefault = false;
    bool canOpen = true;
};

WavAudio Tone(float amplitude)
{
    WavAudio take{16000, std::vector<float>(1600)};
    for (std::size_t i = 0; i < take.samples.size(); ++i)
        take.samples[i] = amplitude * static_cast<float>(std::sin(2 * M_PI * 220.0 * i / 16000.0));
    return take;
}

class MicSetupTest : public WindowsTest {
protected:
    void Start(std::vector<Input> inputs)
    {
        UseInputs([this, inputs] {
            inputs_.clear();
            vocarine::AudioDeviceList list;
            for (const Input& input : inputs) {
                auto device = std::make_unique<WavFileDevice>(
                    input.name, Tone(input.amplitude),
                    WavFileDevice::Options{.canOpen = input.canOpen, .isDefault = input.isDefault, .loop = true});
                inputs_.push_back(device.get());
                list.push_back(std::move(device));
            }
            return list;
        });
        StartProgram(OneCell);
        ASSERT_NE(MicForm, nullptr);
    }

    void ShowSetup()
    {
        Form1->MicrophoneSetup1->trigger();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(MicForm));
    }

    static void ClickEntry(int row)
    {
        QListWidgetItem* item = MicForm->ListBox1->item(row);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(MicForm->ListBox1->viewport(), Qt::LeftButton, {},
                          MicForm->ListBox1->visualItemRect(item).center());
    }

    static QStringList Entries()
    {
        QStringList texts;
        for (int i = 0; i < MicForm->ListBox1->count(); ++i)
            texts << MicForm->ListBox1->item(i)->text();
        return texts;
    }

    static std::vector<int> SelectedRows()
    {
        std::vector<int> rows;
        for (int i = 0; i < MicForm->ListBox1->count(); ++i)
            if (MicForm->ListBox1->item(i)->isSelected())
                rows.push_back(i);
        return rows;
    }

    static vocarine::AudioInputPort& Port() { return *Form1->AudioInputPort; }
    static QString Status() { return Form1->StatusText(); }

    std::vector<WavFileDevice*> inputs_;  // owned by the main window's audio inputs
};

TEST_F(MicSetupTest, IsDesignedAndListsNoneThenTheInputsAndOpensTheDefaultOne)
{
    Start({{"Line in"}, {"Desktop default input", 0.0f, true}, {"USB microphone"}});
    EXPECT_EQ(MicForm->windowTitle(), "Microphone Setup");
    EXPECT_FALSE(MicForm->isModal());
    EXPECT_FALSE(MicForm->isVisible());
    EXPECT_EQ(Entries(), QStringList({"None", "Line in", "Desktop default input", "USB microphone"}));
    EXPECT_EQ(MicForm->DeviceCount, 3);
    EXPECT_EQ(MicForm->ListBox1->visualItemRect(MicForm->ListBox1->item(1)).height(), 16);
    EXPECT_EQ(MicForm->Button1->text(), "OK");
    EXPECT_EQ(MicForm->CheckBox1->text(), "Any octave");
    EXPECT_TRUE(MicForm->CheckBox1->isChecked());
    EXPECT_TRUE(MicForm->AnyOctave());

    // Start-up opened the default input, and nothing is said about it.
    EXPECT_EQ(Port().OpenDevice(), 1);
    EXPECT_TRUE(inputs_[1]->IsOpen());
    EXPECT_EQ(Status(), QString());

    ShowSetup();
    EXPECT_EQ(MicForm->frameGeometry().size(), QSize(298, 310));
    // The entry of the input in use is marked; marking it opened nothing again.
    EXPECT_EQ(SelectedRows(), std::vector<int>{2});
    EXPECT_EQ(inputs_[1]->OpenCount(), 1);
    // Every control lies whole inside the window, none over another.
    const QList<QWidget*> controls{MicForm->ListBox1, MicForm->LevelMeter1, MicForm->CheckBox1, MicForm->Button1};
    for (QWidget* control : controls) {
        EXPECT_TRUE(MicForm->rect().contains(control->geometry())) << control->objectName().toStdString();
        for (QWidget* other : controls)
            if (other != control) {
                EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                    << control->objectName().toStdString() << " " << other->objectName().toStdString();
            }
    }

    // The main window's grading reads the box at the moment of use.
    EXPECT_TRUE(Form1->AnyOctave());
    MicForm->CheckBox1->click();
    EXPECT_FALSE(MicForm->AnyOctave());
    EXPECT_FALSE(Form1->AnyOctave());
    Form1->SetAnyOctave(true);
    EXPECT_TRUE(MicForm->CheckBox1->isChecked());
    QTest::mouseClick(MicForm->Button1, Qt::LeftButton);
    EXPECT_FALSE(MicForm->isVisible());
    EXPECT_EQ(Port().OpenDevice(), 1);
}

TEST_F(MicSetupTest, SelectingAnEntryByMouseOrKeyboardSwitchesTheInputAtOnce)
{
    Start({{"Mic A", 0.0f, true}, {"Mic B"}, {"Mic C"}});
    ShowSetup();
    ClickEntry(3);
    EXPECT_EQ(Port().OpenDevice(), 2);
    EXPECT_FALSE(inputs_[0]->IsOpen());
    EXPECT_EQ(inputs_[0]->CloseCount(), 1);
    EXPECT_TRUE(inputs_[2]->IsOpen());

    MicForm->ListBox1->setFocus();
    QTest::keyClick(MicForm->ListBox1, Qt::Key_Up);
    EXPECT_EQ(Port().OpenDevice(), 1);
    EXPECT_FALSE(inputs_[2]->IsOpen());

    // "None" closes the input, and the status line says why nothing is heard.
    QTest::keyClick(MicForm->ListBox1, Qt::Key_Home);
    EXPECT_FALSE(Port().IsOpen());
    EXPECT_FALSE(inputs_[1]->IsOpen());
    EXPECT_TRUE(Status().startsWith("No microphone: none is chosen.")) << Status().toStdString();
    EXPECT_TRUE(Status().contains("Setup > Microphone Setup")) << Status().toStdString();

    ClickEntry(1);
    EXPECT_EQ(Port().OpenDevice(), 0);
    EXPECT_EQ(Status(), QString());
    // The entry in use, clicked again, opens its input again.
    ClickEntry(1);
    EXPECT_EQ(inputs_[0]->OpenCount(), 3);
    EXPECT_EQ(Port().OpenDevice(), 0);
}

TEST_F(MicSetupTest, AnInputThatCannotBeOpenedIsToldAndAWorkingOneAfterwardsOpens)
{
    Start({{"Mic A", 0.0f, true}, {"Busy mic", 0.0f, false, false}});
    ShowSetup();
    ClickEntry(2);
    EXPECT_FALSE(Port().IsOpen());
    EXPECT_FALSE(inputs_[0]->IsOpen());
    EXPECT_EQ(Status(), "No microphone: Busy mic: the device is busy. Choose one under Setup > Microphone Setup.");
    EXPECT_EQ(MicForm->ListBox1->item(2)->toolTip(), "Busy mic: the device is busy");

    ClickEntry(1);
    EXPECT_EQ(Port().OpenDevice(), 0);
    EXPECT_EQ(Status(), QString());
}

TEST_F(MicSetupTest, StartUpTellsWhyNoMicrophoneIsOpen)
{
    const struct {
        const char* what;
        std::vector<Input> inputs;
        QString status;
        QStringList entries;
    } cases[] = {
        {"no input at all", {}, "No microphone: no audio input was found.", {"None"}},
        {"the default input fails", {{"Default mic", 0.0f, true, false}, {"Other"}},
         "No microphone: Default mic: the device is busy.", {"None", "Default mic", "Other"}},
        {"no default input", {{"JACK client"}},
         "No microphone: the desktop has no default input.", {"None", "JACK client"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Start(c.inputs);
        EXPECT_FALSE(Port().IsOpen());
        EXPECT_EQ(Status(), c.status + " Choose one under Setup > Microphone Setup.");
        EXPECT_EQ(Entries(), c.entries);
        EXPECT_TRUE(errorBoxes_.empty());
        ShowSetup();
        // A failed open leaves nothing marked; with no input opened by choice,
        // "None" is what is in use.
        EXPECT_EQ(SelectedRows(), c.inputs.empty() || !c.inputs[0].isDefault ? std::vector<int>{0}
                                                                              : std::vector<int>{});
        DestroyWindows();
    }
}

TEST_F(MicSetupTest, TheLevelMeterShowsSoundArrivingAndFallsInSilence)
{
    Start({{"Quiet room", 0.0f, true}, {"Singer", 0.7f}});
    ShowSetup();
    // Silence leaves the meter at the bottom.
    QTest::qWait(200);
    EXPECT_EQ(MicForm->LevelMeter1->value(), 0);

    ClickEntry(2);
    // A tone at 0.7 of full scale is -3 dB: near the top of a 60 dB meter.
    ASSERT_TRUE(QTest::qWaitFor([] { return MicForm->LevelMeter1->value() >= 90; }, 5000))
        << MicForm->LevelMeter1->value();
    EXPECT_LE(MicForm->LevelMeter1->value(), 96);

    ClickEntry(0);
    ASSERT_TRUE(QTest::qWaitFor([] { return MicForm->LevelMeter1->value() == 0; }, 5000))
        << MicForm->LevelMeter1->value();
}

TEST_F(MicSetupTest, AnInputThatStopsIsToldInTheStatusLine)
{
    Start({{"USB microphone", 0.3f, true}});
    EXPECT_EQ(Status(), QString());
    // Told within a tick of the main window's timer, with no window open.
    inputs_[0]->Fail();
    ASSERT_TRUE(QTest::qWaitFor([] { return !Status().isEmpty(); }, 5000));
    EXPECT_EQ(Status(),
              "No microphone: USB microphone: the device stopped delivering sound. Choose one under "
              "Setup > Microphone Setup.");
    // Choosing it again opens it afresh.
    ShowSetup();
    ClickEntry(1);
    EXPECT_FALSE(Port().Failed());
    EXPECT_EQ(Status(), QString());
}

TEST_F(MicSetupTest, TheWindowShowsBeforeTheInputsAreFound)
{
    // A sound server that answers slowly holds up the search, not the window.
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
    // Also when the test fails early: the search must end before the window goes.
    struct Answer {
        std::promise<void>& answer;
        bool given = false;
        void Give()
        {
            if (!given)
                answer.set_value();
            given = true;
        }
        ~Answer() { Give(); }
    } reply{answer};
    UseInputs([answered] {
        answered.wait();
        vocarine::AudioDeviceList list;
        list.push_back(std::make_unique<WavFileDevice>("Late mic", Tone(0.0f),
                                                       WavFileDevice::Options{.isDefault = true, .loop = true}));
        return list;
    });
    WriteFile("majortonic.txt", OneCell);
    UseDevices({true});
    CreateWindows();
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    EXPECT_FALSE(Form1->AudioInputsSearched());
    EXPECT_FALSE(Form1->AudioInputPort->IsOpen());
    EXPECT_EQ(Status(), QString());  // nothing said before the search ends
    EXPECT_EQ(Entries(), QStringList({"None"}));

    reply.Give();
    ASSERT_TRUE(QTest::qWaitFor([] { return Form1->AudioInputsSearched(); }, 10000));
    EXPECT_EQ(Port().OpenDevice(), 0);
    EXPECT_EQ(Entries(), QStringList({"None", "Late mic"}));
}

}  // namespace
