// Start-up and the sound devices: the window does not wait for the system's
// ports nor for the built-in synthesizer, yet the MIDI Setup list is complete
// when shown, notes put while the synthesizer loads sound once it has, and
// a synthesizer that cannot sound is told in the status line.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "../midi/SynthTestSupport.h"
#include "WindowsTest.h"
#include "midi/MaxMidi.h"
#include "midi/SynthDevice.h"
#include "ui/Application.h"
#include "ui/MidiUnit2.h"
#include "ui/VocarineUnit1.h"

namespace {

using namespace std::chrono_literals;
using vocarine::MidiDeviceList;
using vocarine::RecordingDevice;
using vocarine::SynthDevice;
using vocarine::SynthOptions;
using vocarine::TMaxMidi;

// Cell 0: do mi sol of the middle octave (keys 60, 64, 67 in C).
const std::string DoMiSol = "1\n3  7 1  9 1  11 1\n";

class StartupSoundTest : public WindowsTest {
protected:
    // Device 0 is `synth`, known at once; nothing is listed after it.
    void StartWithSynth(SynthOptions options, const std::string& cells = DoMiSol)
    {
        options.renderOffline = true;
        TMaxMidi::SetDeviceProvider([options] {
            MidiDeviceList list;
            list.push_back(std::make_unique<SynthDevice>(options));
            return list;
        });
        WriteFile("majortonic.txt", cells);
        CreateWindows();
        ASSERT_NE(Form1, nullptr);
        synth_ = dynamic_cast<SynthDevice*>(Form1->MaxMidi->Device(0));
        ASSERT_NE(synth_, nullptr);
    }

    // Device 0 comes from `first`, at once; the ports named in `later` follow
    // from the lister, which notes that it began and then waits until the
    // test lets it go on (or five seconds pass).
    void ListPortsLate(std::function<std::unique_ptr<vocarine::MidiDevice>()> first, std::vector<std::string> later)
    {
        TMaxMidi::SetDeviceProvider(
            [first] {
                MidiDeviceList list;
                list.push_back(first());
                return list;
            },
            [this, later] {
                listerBegan_ = true;
                for (int i = 0; i < 500 && !listerGo_; ++i)
                    std::this_thread::sleep_for(10ms);
                MidiDeviceList list;
                for (const std::string& name : later)
                    list.push_back(std::make_unique<RecordingDevice>(name));
                return list;
            });
    }

    SynthDevice* synth_ = nullptr;
    // Kept by the fixture: the lister may still read them after a test's body.
    std::atomic<bool> listerBegan_{false};
    std::atomic<bool> listerGo_{false};
};

std::unique_ptr<vocarine::MidiDevice> Recorder0()
{
    return std::make_unique<RecordingDevice>("Recorder 0");
}

TEST_F(StartupSoundTest, TheMidiSetupListShownStraightAfterStartUpIsComplete)
{
    // The system's ports take their time to be listed, as a JACK server's do:
    // here until the test lets the lister go (or five seconds pass).
    ListPortsLate(Recorder0, {"Port 1", "Port 2"});
    WriteFile("majortonic.txt", DoMiSol);
    CreateWindows();
    // Start-up went on without the list, and device 0 opened meanwhile.
    EXPECT_FALSE(Form1->MaxMidi->Listed());
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 0);

    // Shown while the ports are still being listed.
    std::thread lister([this] {
        std::this_thread::sleep_for(200ms);
        listerGo_ = true;
    });
    Form1->MIDISetup2Click(Form1->MIDISetup2);
    lister.join();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form2));
    EXPECT_EQ(Form2->DeviceCount, 3);
    ASSERT_EQ(Form2->ListBox1->count(), 3);
    EXPECT_EQ(Form2->ListBox1->item(0)->text(), "Recorder 0");
    EXPECT_EQ(Form2->ListBox1->item(1)->text(), "Port 1");
    EXPECT_EQ(Form2->ListBox1->item(2)->text(), "Port 2");

    // The list is made once: the word that it is complete adds nothing more.
    QTest::qWait(50);
    EXPECT_EQ(Form2->ListBox1->count(), 3);
    // And a port listed late can be chosen.
    Form2->ListBox1->item(2)->setSelected(true);
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 2);
}

TEST_F(StartupSoundTest, TheMidiSetupListFillsItselfOnceThePortsAreListed)
{
    ListPortsLate(Recorder0, {"Port 1"});
    WriteFile("majortonic.txt", DoMiSol);
    CreateWindows();
    EXPECT_EQ(Form2->DeviceCount, 0);
    listerGo_ = true;
    ASSERT_TRUE(WaitFor([&] { return Form2->DeviceCount == 2; }, 10000));
    EXPECT_EQ(Form2->ListBox1->item(1)->text(), "Port 1");
    EXPECT_FALSE(Form2->isVisible());
}

// The program shows its window before it lists the ports and opens the
// synthesizer: both begin once the window has been painted.
TEST_F(StartupSoundTest, DeviceWorkBeginsOnceTheWindowIsPainted)
{
    listerGo_ = true;  // the lister itself does not wait here: only the hold may
    ListPortsLate(
        []() -> std::unique_ptr<vocarine::MidiDevice> {
            SynthOptions options;
            options.renderOffline = true;
            return std::make_unique<SynthDevice>(options);
        },
        {"Port 1"});
    WriteFile("majortonic.txt", DoMiSol);
    ASSERT_TRUE(StartVocarine());
    synth_ = dynamic_cast<SynthDevice*>(Form1->MaxMidi->Device(0));
    ASSERT_NE(synth_, nullptr);
    // No event handled yet, so nothing painted: the workers wait.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(listerBegan_);
    EXPECT_FALSE(synth_->Loaded());
    EXPECT_EQ(Form2, nullptr);  // nor are the hidden windows made yet
    EXPECT_EQ(Form1->MaxMidiOut->OpenDevice(), 0);
    EXPECT_TRUE(Form1->MaxMidiOut->IsOpen());

    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    ASSERT_TRUE(WaitFor([&] { return listerBegan_.load() && Form1->MaxMidi->Listed(); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return synth_->Loaded(); }, 20000));
    ASSERT_TRUE(WaitFor([&] { return Form2 != nullptr && Form2->DeviceCount == 2; }, 10000));
}

// Play and "Where's Do?" pressed before the soundfont has loaded: their notes
// wait and sound, in order and in time, as soon as it has.
TEST_F(StartupSoundTest, PlayPutWhileTheSynthesizerIsStillLoadingSoundsOnceLoaded)
{
    vocarine::testing::HeldLoad load;
    StartWithSynth(load.Options());
    ASSERT_TRUE(load.WaitUntilStarted());
    EXPECT_TRUE(Form1->MaxMidiOut->IsOpen());
    EXPECT_TRUE(Form1->StatusText().isEmpty()) << Form1->StatusText().toStdString();

    Form1->TrackBar1->setValue(1700);  // 300 ms a note
    QTest::mouseClick(Form1->PlayButton, Qt::LeftButton);
    EXPECT_FALSE(synth_->Loaded());

    load.Release();
    ASSERT_TRUE(synth_->WaitUntilLoaded(20s));
    const std::vector<float> heard = vocarine::testing::RenderInRealTime(*synth_, 1.2);
    const double rate = synth_->AudioSetup().sampleRate;
    const std::size_t onset = vocarine::testing::Onset(heard);
    ASSERT_LT(onset, std::size_t(0.1 * rate)) << "the cell did not sound once loaded";
    const int keys[] = {60, 64, 67};
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(vocarine::testing::CentsFromKey(heard, rate, onset, 0.3 * i + 0.07, 0.18, keys[i]), 0.0, 30.0)
            << "note " << i;
    EXPECT_TRUE(Form1->StatusText().isEmpty()) << Form1->StatusText().toStdString();
}

TEST_F(StartupSoundTest, WheresDoPutWhileTheSynthesizerIsStillLoadingSoundsOnceLoaded)
{
    vocarine::testing::HeldLoad load;
    StartWithSynth(load.Options());
    ASSERT_TRUE(load.WaitUntilStarted());
    QTest::mouseClick(Form1->TonicButton, Qt::LeftButton);
    load.Release();
    ASSERT_TRUE(synth_->WaitUntilLoaded(20s));
    const std::vector<float> heard = vocarine::testing::RenderInRealTime(*synth_, 0.6);
    const double rate = synth_->AudioSetup().sampleRate;
    const std::size_t onset = vocarine::testing::Onset(heard);
    ASSERT_LT(onset, std::size_t(0.1 * rate)) << "the tonic did not sound once loaded";
    EXPECT_NEAR(vocarine::testing::CentsFromKey(heard, rate, onset, 0.1, 0.3, 60), 0.0, 30.0);
}

TEST_F(StartupSoundTest, WithNoSoundfontInstalledTheProgramStartsAndNamesThePackage)
{
    SynthOptions options;
    options.soundfonts = {dir_.filePath("no-such.sf2").toStdString()};
    StartWithSynth(options);
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 1");
    EXPECT_TRUE(Form1->StatusText().contains("Built-in synthesizer")) << Form1->StatusText().toStdString();
    EXPECT_TRUE(Form1->StatusText().contains("install the package fluid-soundfont-gm"))
        << Form1->StatusText().toStdString();
}

TEST_F(StartupSoundTest, ASoundfontThatFailsToLoadIsToldInTheStatusLine)
{
    // A good header, then nothing FluidSynth can read.
    const QString damaged = WriteFile("damaged.sf2", std::string("RIFF\x10\0\0\0sfbk", 12) + std::string(4096, 'x'));
    SynthOptions options;
    options.soundfonts = {damaged.toStdString()};
    StartWithSynth(options);
    // The open itself went through; the load fails on the synthesizer's worker.
    ASSERT_TRUE(WaitFor([&] { return Form1->StatusText().contains("could not be loaded"); }, 20000));
    EXPECT_TRUE(Form1->StatusText().contains("damaged.sf2")) << Form1->StatusText().toStdString();
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
    EXPECT_FALSE(Form1->statusBar()->isHidden());
}

}  // namespace
