// Listening in the main window: the Sing button, the trace over the staff,
// the grade on the note labels and under the panel, what clears it, the
// faults of the input, and listening inside the AutoDrive. Takes go through
// the real input port, pitch tracker and grading.
#include <QAbstractButton>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "ListenTestSupport.h"
#include "WindowsTest.h"
#include "audio/WavFileDevice.h"
#include "core/Listening.h"
#include "ui/AutoUnit3.h"
#include "ui/MicUnit4.h"
#include "ui/OpenDialog.h"
#include "ui/PitchTrace.h"
#include "ui/RadioGroup.h"
#include "ui/Shape.h"
#include "ui/TonicUnit3.h"
#include "ui/UpDown.h"
#include "ui/VocarineUnit1.h"

namespace {

using namespace listen_testing;
using vocarine::Verdict;

// Two cells of do re mi fa sol, so any cell the AutoDrive chooses sings the same.
const std::string Scale = "2\n5 7 1 8 1 9 1 10 1 11 1\n5 7 1 8 1 9 1 10 1 11 1\n";
const std::vector<int> ScaleKeys{60, 62, 64, 65, 67};  // in C
constexpr double Skip = std::numeric_limits<double>::quiet_NaN();

std::vector<float> WithQuietAfter(std::vector<float> take, double seconds = 2.0)
{
    take.resize(take.size() + static_cast<std::size_t>(seconds * TakeRate), 0.0f);
    return take;
}

std::vector<std::optional<Verdict>> ShownVerdicts(int notes)
{
    std::vector<std::optional<Verdict>> verdicts;
    for (int j = 0; j < notes; ++j)
        verdicts.push_back(Form1->LabelVerdict(j));
    return verdicts;
}

std::vector<std::optional<Verdict>> All(Verdict verdict, int notes = 5)
{
    return std::vector<std::optional<Verdict>>(notes, verdict);
}

class ListeningTest : public WindowsTest {
protected:
    // The program with one input the test feeds by hand.
    void StartWithPushInput(const std::string& cells = Scale)
    {
        UseInputs([this] {
            vocarine::AudioDeviceList inputs;
            auto input = std::make_unique<PushInput>("Test microphone");
            input_ = input.get();
            inputs.push_back(std::move(input));
            return inputs;
        });
        StartProgram(cells);
        Form1->Timer1->stop();  // the AutoDrive moves only when a test ticks it
        ASSERT_TRUE(Form1->AudioInputPort->IsOpen());
    }

    // Sing pressed, the take sung, and listening left to end by itself.
    void SingAndWait(const std::vector<float>& take)
    {
        QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
        ASSERT_TRUE(Form1->IsListening());
        Sing(*input_, WithQuietAfter(take));
        ASSERT_TRUE(WaitFor([] { return !Form1->IsListening(); }, 10000));
    }

    void ExpectNoGrade()
    {
        EXPECT_EQ(Form1->ShownGrade(), nullptr);
        EXPECT_TRUE(Form1->GradeLine->isHidden());
        for (int j = 0; j < vocarine::MaxNotes; ++j) {
            EXPECT_EQ(Form1->LabelVerdict(j), std::nullopt) << j;
            EXPECT_TRUE(Form1->CentsLabels[j]->isHidden()) << j;
        }
        EXPECT_TRUE(Form1->PitchTrace->IsEmpty());
    }

    void TearDown() override
    {
        TForm1::SetTakeLimitsForTesting(std::nullopt);
        WindowsTest::TearDown();
    }

public:
    QString WriteScratchFile(const QString& name, const std::string& text) { return WriteFile(name, text); }

protected:
    PushInput* input_ = nullptr;
};

TEST_F(ListeningTest, SingStandsBelowDisplayLikeItAndFollowsItInTheTabOrder)
{
    StartWithPushInput();
    QPushButton* sing = Form1->SingButton;
    EXPECT_EQ(sing->objectName(), "SingButton");
    EXPECT_EQ(sing->text(), "Sing");
    EXPECT_EQ(sing->size(), Form1->DisplayButton->size());
    EXPECT_EQ(sing->font(), Form1->DisplayButton->font());
    EXPECT_EQ(sing->x(), Form1->DisplayButton->x());
    // As far below Display as Play stands above it.
    EXPECT_EQ(sing->y() - Form1->DisplayButton->y(), Form1->DisplayButton->y() - Form1->PlayButton->y());
    EXPECT_EQ(Form1->DisplayButton->nextInFocusChain(), sing);
    EXPECT_EQ(sing->nextInFocusChain(), Form1->PlayButton);
    EXPECT_TRUE(sing->isEnabled());
    EXPECT_TRUE(Form1->PitchTrace->geometry() == Form1->Shape2->geometry());

    QTest::mouseClick(sing, Qt::LeftButton);
    EXPECT_TRUE(Form1->IsListening());
    EXPECT_EQ(sing->text(), "Stop");
    QTest::mouseClick(sing, Qt::LeftButton);
    EXPECT_FALSE(Form1->IsListening());
    EXPECT_EQ(sing->text(), "Sing");
    // Stopped before singing: no grade and nothing to complain about.
    ExpectNoGrade();
    EXPECT_EQ(Form1->StatusText(), QString());
}

// ------------------------------------------------------------- the grade

struct GradedTake {
    const char* name;
    std::vector<double> cents;  // per note; Skip leaves it out
    std::vector<std::optional<Verdict>> verdicts;
};

class GradingTakesTest : public ListeningTest, public ::testing::WithParamInterface<GradedTake> {};

// Sung into an input that plays the take in real time, as a microphone does.
TEST_P(GradingTakesTest, EveryNoteGetsItsVerdictOnItsLabel)
{
    const GradedTake& c = GetParam();
    const std::vector<float> take = RenderTake(SungCell(ScaleKeys, c.cents));
    UseInputs([&take] {
        vocarine::AudioDeviceList inputs;
        inputs.push_back(std::make_unique<vocarine::WavFileDevice>(
            "Take", vocarine::WavAudio{TakeRate, WithQuietAfter(take, 3.0)}, vocarine::WavFileDevice::Options{}));
        return inputs;
    });
    StartProgram(Scale);
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    // The take starts again from its lead-in silence as Sing is pressed.
    ASSERT_TRUE(Form1->AudioInputPort->Open(0));
    Form1->AudioInputChanged();  // as Microphone Setup does after a switch
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    ASSERT_TRUE(Form1->IsListening());

    // It ends by itself once the singing has stopped.
    ASSERT_TRUE(WaitFor([] { return !Form1->IsListening(); }, 15000));
    EXPECT_EQ(Form1->SingButton->text(), "Sing");
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    EXPECT_EQ(ShownVerdicts(5), c.verdicts);
    EXPECT_FALSE(Form1->GradeLine->isHidden());
    EXPECT_EQ(Form1->GradeLine->toolTip().toStdString(), Form1->ShownGrade()->summary);
    // One line that fits under the panel.
    EXPECT_LE(Form1->GradeLine->fontMetrics().horizontalAdvance(Form1->GradeLine->text()), Form1->GradeLine->width());
    EXPECT_TRUE(Form1->GradeLine->toolTip().startsWith(Form1->GradeLine->text().chopped(1)));
    EXPECT_FALSE(Form1->PitchTrace->IsEmpty());
    for (int j = 0; j < 5; ++j) {
        SCOPED_TRACE(j);
        const Verdict verdict = *c.verdicts[static_cast<std::size_t>(j)];
        EXPECT_EQ(Form1->NoteLabels[j]->palette().color(QPalette::Window), TForm1::VerdictColour(verdict));
        EXPECT_EQ(Form1->NoteLabels[j]->font().strikeOut(), verdict == Verdict::Missed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Takes, GradingTakesTest,
    ::testing::Values(GradedTake{"InTune", {}, All(Verdict::InTune)},
                      GradedTake{"ThirdNoteEightyCentsSharp",
                                 {0, 0, 80, 0, 0},
                                 {Verdict::InTune, Verdict::InTune, Verdict::Wrong, Verdict::InTune, Verdict::InTune}},
                      GradedTake{"SecondNoteSkipped",
                                 {0, Skip, 0, 0, 0},
                                 {Verdict::InTune, Verdict::Missed, Verdict::InTune, Verdict::InTune,
                                  Verdict::InTune}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListeningTest, FlatAndSharpNotesShowTheirCentsBesideThem)
{
    StartWithPushInput();
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    SingAndWait(RenderTake(SungCell(ScaleKeys, {0, -40, 0, 40, 0})));
    EXPECT_EQ(ShownVerdicts(5),
              (std::vector<std::optional<Verdict>>{Verdict::InTune, Verdict::Flat, Verdict::InTune, Verdict::Sharp,
                                                   Verdict::InTune}));
    for (int j : {1, 3}) {
        SCOPED_TRACE(j);
        QLabel* cents = Form1->CentsLabels[j];
        ASSERT_FALSE(cents->isHidden());
        const int shown = cents->text().toInt();
        EXPECT_NEAR(shown, j == 1 ? -40 : 40, 6);
        EXPECT_EQ(cents->text().startsWith('+'), j == 3);
        // Small, and right beside its syllable.
        EXPECT_LT(cents->font().pixelSize(), Form1->NoteLabels[j]->fontInfo().pixelSize());
        EXPECT_EQ(cents->x(), Form1->NoteLabels[j]->geometry().right() + 2);
    }
    for (int j : {0, 2, 4})
        EXPECT_TRUE(Form1->CentsLabels[j]->isHidden()) << j;
    EXPECT_NE(Form1->GradeLine->text().indexOf("re"), -1) << Form1->GradeLine->text().toStdString();
}

// The five verdict colours differ from each other and from the panel where a
// verdict is shown on a fill; each text colour reads on its fill.
TEST(VerdictColours, AreDistinctAndReadable)
{
    const Verdict all[] = {Verdict::InTune, Verdict::Flat, Verdict::Sharp, Verdict::Wrong, Verdict::Missed};
    for (Verdict a : all)
        for (Verdict b : all)
            if (a != b) {
                const QColor ca = TForm1::VerdictColour(a);
                const QColor cb = TForm1::VerdictColour(b);
                const int distance = std::abs(ca.red() - cb.red()) + std::abs(ca.green() - cb.green()) +
                                     std::abs(ca.blue() - cb.blue());
                EXPECT_GT(distance, 120) << static_cast<int>(a) << " " << static_cast<int>(b);
            }
}

// ------------------------------------------------------------- the trace

struct TraceCase {
    const char* name;
    int32_t keyOffset;
    double sungMidi;
    bool anyOctave;
    double semitonesFromSol;  // where the trace stands, from the label of sol
};

class TraceTest : public ListeningTest, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(TraceTest, StandsAtTheHeightOfTheLabelOfThePitch)
{
    const TraceCase& c = GetParam();
    StartWithPushInput();
    Form1->State.KeyOffset = c.keyOffset;
    MicForm->CheckBox1->setChecked(c.anyOctave);
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    Sing(*input_, RenderTake({{0.0, 0.2}, {c.sungMidi, 0.5}}));
    ASSERT_TRUE(WaitFor([] { return Form1->PitchTrace->LastPoint().has_value(); }, 5000));
    QTest::qWait(30);
    const std::optional<QPointF> last = Form1->PitchTrace->LastPoint();
    ASSERT_TRUE(last);
    QLabel* sol = Form1->NoteLabels[4];
    const double solTop = sol->y() - Form1->PitchTrace->y();
    EXPECT_NEAR(last->y(), solTop - 10.0 * c.semitonesFromSol, 1.0);
    EXPECT_TRUE(Form1->PitchTrace->rect().contains(last->toPoint()));
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
}

INSTANTIATE_TEST_SUITE_P(
    Heights, TraceTest,
    ::testing::Values(TraceCase{"SolInC", 0, 67.0, true, 0.0}, TraceCase{"SolInD", 2, 69.0, true, 0.0},
                      TraceCase{"LaInC", 0, 69.0, false, 2.0}, TraceCase{"QuarterToneAboveSol", 0, 67.5, true, 0.5},
                      TraceCase{"OctaveBelowFolded", 0, 55.0, true, 0.0},
                      TraceCase{"OctaveBelowAsSung", 0, 55.0, false, -12.0}),
    [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------- the program's own sound

// Whatever arrives while the program plays a cell, and for a while after its
// last note, which is never released, is not the singer's.
TEST_F(ListeningTest, SoundWhileTheCellPlaysAndWhileItRingsIsNotHeard)
{
    StartWithPushInput();
    Form1->TrackBar1->setValue(1700);  // 300 ms a note: the cell plays for 1.2 s
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    ASSERT_TRUE(Form1->IsListening());

    // The speakers' sound reaches the input in real time from another thread
    // while playback holds the window, and goes on after it ends.
    const std::vector<float> echo = RenderTake({{60.0, 3.0}});
    std::atomic<bool> playing{false};
    std::atomic<bool> stop{false};
    std::thread speakers([&] {
        while (!playing && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto start = std::chrono::steady_clock::now();
        std::size_t sent = 0;
        while (!stop) {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto due = std::min(echo.size(), static_cast<std::size_t>(seconds * TakeRate));
            if (sent < due)
                sent += input_->Push(echo.data() + sent, due - sent);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    playing = true;
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(Form1->PlayButton, Qt::LeftButton);
    const qint64 played = clock.elapsed();
    // Sound goes on for half the ringing tail after the playback.
    QTest::qWait(TForm1::RingingTailMs / 2);
    stop = true;
    speakers.join();
    QTest::qWait(50);
    EXPECT_GE(played, 1000);
    EXPECT_TRUE(Form1->IsListening());
    EXPECT_FALSE(Form1->PitchTrace->LastPoint().has_value());
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    ExpectNoGrade();

    // After the tail the singer is heard again.
    QTest::qWait(TForm1::RingingTailMs);
    SingAndWait(RenderTake(SungCell(ScaleKeys)));
    EXPECT_NE(Form1->ShownGrade(), nullptr);
}

TEST_F(ListeningTest, TheTonicRingsOutUnheardToo)
{
    StartWithPushInput();
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    QTest::mouseClick(Form1->TonicButton, Qt::LeftButton);
    Sing(*input_, RenderTake({{60.0, 0.5}}));
    QTest::qWait(50);
    EXPECT_TRUE(Form1->PitchTrace->IsEmpty() || !Form1->PitchTrace->LastPoint().has_value());
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    ExpectNoGrade();
}

// ------------------------------------------------------- what clears it

struct Clearing {
    const char* name;
    std::function<void(ListeningTest&)> act;
};

class ClearingTest : public ListeningTest, public ::testing::WithParamInterface<Clearing> {};

TEST_P(ClearingTest, TheNextCommandClearsTheGrade)
{
    StartWithPushInput();
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    SingAndWait(RenderTake(SungCell(ScaleKeys)));
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    ASSERT_EQ(ShownVerdicts(5), All(Verdict::InTune));

    GetParam().act(*this);
    ExpectNoGrade();
    // Shown again, the cell is plain.
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    EXPECT_EQ(ShownVerdicts(5), std::vector<std::optional<Verdict>>(5));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ClearingTest,
    ::testing::Values(
        Clearing{"Keep", [](ListeningTest&) { QTest::mouseClick(Form1->KeepButton, Qt::LeftButton); }},
        Clearing{"MoveOn", [](ListeningTest&) { QTest::mouseClick(Form1->DiscardButton, Qt::LeftButton); }},
        Clearing{"FileOpen",
                 [](ListeningTest& test) {
                     const QString path = test.WriteScratchFile("other.txt", Scale);
                     TOpenDialog::SetAnswerForTesting([path](TOpenDialog& dialog) {
                         dialog.FileName = path;
                         return true;
                     });
                     Form1->OpenFile1->trigger();
                 }},
        Clearing{"KeyFromTheList",
                 [](ListeningTest&) {
                     TonicForm->ComboBox1->setCurrentIndex(3);
                     TonicForm->ComboBox1Select(TonicForm->ComboBox1);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListeningTest, FileOpenCancelledOrRefusedKeepsTheGrade)
{
    StartWithPushInput();
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    SingAndWait(RenderTake(SungCell(ScaleKeys)));
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    Form1->OpenFile1->trigger();  // Cancel
    const QString bad = WriteFile("bad.txt", "x\n");
    TOpenDialog::SetAnswerForTesting([bad](TOpenDialog& dialog) {
        dialog.FileName = bad;
        return true;
    });
    Form1->OpenFile1->trigger();
    EXPECT_NE(Form1->ShownGrade(), nullptr);
    EXPECT_EQ(ShownVerdicts(5), All(Verdict::InTune));
}

// Dictation by hand: the cell hidden while singing back.
TEST_F(ListeningTest, HiddenCellShowsTheLineAtOnceAndItsColoursWhenShown)
{
    StartWithPushInput();
    SingAndWait(RenderTake(SungCell(ScaleKeys, {0, 0, 0, 0, 90})));
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    EXPECT_FALSE(Form1->GradeLine->isHidden());
    EXPECT_EQ(ShownVerdicts(5), std::vector<std::optional<Verdict>>(5));
    for (QLabel* label : Form1->NoteLabels)
        EXPECT_TRUE(label->isHidden());

    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    EXPECT_EQ(ShownVerdicts(5),
              (std::vector<std::optional<Verdict>>{Verdict::InTune, Verdict::InTune, Verdict::InTune, Verdict::InTune,
                                                   Verdict::Wrong}));
}

// ----------------------------------------------------- faults of the input

TEST_F(ListeningTest, WithoutAnInputSingIsDisabledAndTheStatusLineSaysWhy)
{
    UseInputs([] { return vocarine::AudioDeviceList{}; });
    StartProgram(Scale);
    EXPECT_FALSE(Form1->SingButton->isEnabled());
    EXPECT_FALSE(Form1->SingButton->toolTip().isEmpty());
    EXPECT_TRUE(Form1->StatusText().contains(Form1->SingButton->toolTip())) << Form1->StatusText().toStdString();
    EXPECT_TRUE(Form1->StatusText().contains("no audio input")) << Form1->StatusText().toStdString();
    EXPECT_TRUE(Form1->StatusText().contains("Setup > Microphone Setup"));

    // Nor does the AutoDrive listen.
    AutoForm->Button1->click();
    Form1->Timer1Timer(Form1);
    EXPECT_FALSE(Form1->IsListening());
}

TEST_F(ListeningTest, AnInputThatDoesNotOpenIsNamed)
{
    UseInputs([] {
        vocarine::AudioDeviceList inputs;
        inputs.push_back(std::make_unique<vocarine::WavFileDevice>(
            "Busy microphone", vocarine::WavAudio{TakeRate, std::vector<float>(100)},
            vocarine::WavFileDevice::Options{false, true, false}));
        return inputs;
    });
    StartProgram(Scale);
    EXPECT_FALSE(Form1->SingButton->isEnabled());
    EXPECT_TRUE(Form1->StatusText().contains("Busy microphone")) << Form1->StatusText().toStdString();
    EXPECT_TRUE(Form1->SingButton->toolTip().contains("Busy microphone"));
}

TEST_F(ListeningTest, AnInputThatFailsWhileListeningStopsItAndIsNamed)
{
    StartWithPushInput();
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    Sing(*input_, RenderTake({{0.0, 0.2}, {64.0, 0.4}}));
    input_->Fail();
    ASSERT_TRUE(WaitFor([] { return !Form1->IsListening(); }, 2000));
    EXPECT_TRUE(Form1->StatusText().contains("Test microphone")) << Form1->StatusText().toStdString();
    EXPECT_FALSE(Form1->SingButton->isEnabled());
    EXPECT_EQ(Form1->ShownGrade(), nullptr);

    // Opened again, it listens again and the complaint goes.
    ASSERT_TRUE(Form1->AudioInputPort->Open(0));
    Form1->AudioInputChanged();
    EXPECT_TRUE(Form1->SingButton->isEnabled());
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    EXPECT_FALSE(Form1->StatusText().contains("Test microphone")) << Form1->StatusText().toStdString();
}

TEST_F(ListeningTest, ATakeThatClipsIsGradedAndToldToBeSofter)
{
    StartWithPushInput();
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);
    std::vector<float> take = RenderTake(SungCell(ScaleKeys), 2.0f);
    for (float& s : take)
        s = std::clamp(s, -1.0f, 1.0f);
    SingAndWait(take);
    EXPECT_TRUE(Form1->StatusText().contains("Too loud: move back from the microphone"))
        << Form1->StatusText().toStdString();
    EXPECT_NE(Form1->ShownGrade(), nullptr);

    // The next take that does not clip says nothing.
    SingAndWait(RenderTake(SungCell(ScaleKeys)));
    EXPECT_FALSE(Form1->StatusText().contains("Too loud")) << Form1->StatusText().toStdString();
}

TEST_F(ListeningTest, NothingHeardInTheWholeTimeIsTold)
{
    TForm1::SetTakeLimitsForTesting(vocarine::TakeLimits{1.5, 1.0, 0.08});
    StartWithPushInput();
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    // Breath and a click are not singing.
    std::vector<float> noise(TakeRate / 2);
    uint32_t seed = 1;
    for (float& s : noise) {
        seed = seed * 1664525u + 1013904223u;
        s = 0.002f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    input_->Push(noise.data(), noise.size());
    ASSERT_TRUE(WaitFor([] { return !Form1->IsListening(); }, 5000));
    EXPECT_TRUE(Form1->StatusText().contains("Nothing heard: check the input in Setup > Microphone Setup"))
        << Form1->StatusText().toStdString();
    ExpectNoGrade();
}

// ------------------------------------------------------------ AutoDrive

class AutoDriveListeningTest : public ListeningTest {
protected:
    void Tick() { Form1->Timer1Timer(Form1); }
    void StartAutoDrive(bool singing)
    {
        StartWithPushInput();
        Form1->TrackBar1->setValue(2000);  // notes without a wait
        AutoForm->RadioGroup1->SetItemIndex(singing ? 0 : 1);
        AutoForm->UpDown1->SetPosition(3);
        AutoForm->UpDown2->SetPosition(3);
        QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
        ASSERT_EQ(AutoForm->Button1->text(), "STOP");
    }
};

TEST_F(AutoDriveListeningTest, SingingModeListensFromTheShowingToThePlayStep)
{
    StartAutoDrive(true);
    EXPECT_FALSE(Form1->IsListening());
    Tick();  // shown
    ASSERT_TRUE(Form1->IsListening());
    EXPECT_EQ(Form1->SingButton->text(), "Stop");
    Sing(*input_, WithQuietAfter(RenderTake(SungCell(ScaleKeys, {0, 0, 0, -40, 0}))));
    Tick();
    Tick();
    // A long pause in the singing does not end the singing time.
    EXPECT_TRUE(Form1->IsListening());
    EXPECT_EQ(Form1->ShownGrade(), nullptr);
    const std::size_t messagesBefore = Device(0).Messages().size();
    Tick();  // the Play step
    EXPECT_FALSE(Form1->IsListening());
    EXPECT_GT(Device(0).Messages().size(), messagesBefore);
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    EXPECT_EQ(ShownVerdicts(5), (std::vector<std::optional<Verdict>>{Verdict::InTune, Verdict::InTune, Verdict::InTune,
                                                                      Verdict::Flat, Verdict::InTune}));
    // The waits after Play hear nothing; the next cell clears the grade and listens again.
    Tick();
    Tick();
    EXPECT_FALSE(Form1->IsListening());
    Tick();
    EXPECT_EQ(Form1->State.DisplayCountdown, 2);
    EXPECT_TRUE(Form1->IsListening());
    EXPECT_EQ(Form1->ShownGrade(), nullptr);
}

TEST_F(AutoDriveListeningTest, DictationModeListensFromTheEndOfPlaybackToTheShowing)
{
    StartAutoDrive(false);
    Tick();  // played
    ASSERT_TRUE(Form1->IsListening());
    // The last note rings on for a while; then the singer sings it back.
    QTest::qWait(TForm1::RingingTailMs + 100);
    Sing(*input_, WithQuietAfter(RenderTake(SungCell(ScaleKeys, {0, 0, 80, 0, 0}))));
    Tick();
    Tick();
    Tick();
    EXPECT_TRUE(Form1->IsListening());
    Tick();  // shown
    EXPECT_FALSE(Form1->IsListening());
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    EXPECT_EQ(ShownVerdicts(5), (std::vector<std::optional<Verdict>>{Verdict::InTune, Verdict::InTune, Verdict::Wrong,
                                                                      Verdict::InTune, Verdict::InTune}));
}

TEST_F(AutoDriveListeningTest, StopInTheSingingTimeGradesWhatWasSung)
{
    StartAutoDrive(true);
    Tick();
    Sing(*input_, WithQuietAfter(RenderTake(SungCell(ScaleKeys))));
    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);  // STOP
    ASSERT_TRUE(WaitFor([] { return !Form1->IsListening(); }, 2000));
    ASSERT_NE(Form1->ShownGrade(), nullptr);
    EXPECT_EQ(ShownVerdicts(5), All(Verdict::InTune));
}

TEST_F(AutoDriveListeningTest, SilentSingingTimeIsToldAndLeavesNoGrade)
{
    StartAutoDrive(true);
    Tick();
    for (int i = 0; i < 3; ++i)
        Tick();
    EXPECT_FALSE(Form1->IsListening());
    EXPECT_EQ(Form1->ShownGrade(), nullptr);
    EXPECT_TRUE(Form1->StatusText().contains("Nothing heard")) << Form1->StatusText().toStdString();
}

}  // namespace
