// The main window: start-up, its controls, File > Open, the error box, the
// cell view and playback, driven through the real widgets.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTextDocument>
#include <QTimer>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "WindowsTest.h"
#include "midi/MaxMidi.h"
#include "ui/Application.h"
#include "ui/AutoUnit3.h"
#include "ui/MicUnit4.h"
#include "ui/MidiUnit2.h"
#include "ui/OpenDialog.h"
#include "ui/Playback.h"
#include "ui/Shape.h"
#include "ui/RadioGroup.h"
#include "ui/TonicUnit3.h"
#include "ui/UpDown.h"
#include "ui/VocarineUnit1.h"

namespace {

using namespace std::chrono_literals;
using vocarine::RecordedMessage;

// A book of `cells` cells of one note each (do).
std::string Book(int cells)
{
    std::string text = std::to_string(cells) + "\n";
    for (int i = 0; i < cells; ++i)
        text += "1 0 1\n";
    return text;
}

// What File > Open must leave alone when it loads nothing.
void ExpectSameTrainer(const vocarine::TrainerState& before, const vocarine::TrainerState& after)
{
    EXPECT_EQ(after.CellCount, before.CellCount);
    EXPECT_EQ(after.CurrentCell, before.CurrentCell);
    EXPECT_EQ(after.PoolLimit, before.PoolLimit);
    EXPECT_EQ(after.CellDone, before.CellDone);
    for (int i = 0; i < vocarine::MaxCells; ++i) {
        EXPECT_EQ(after.Cells[i].count, before.Cells[i].count) << "cell " << i;
        for (int j = 0; j < vocarine::MaxNotes; ++j) {
            EXPECT_EQ(after.Cells[i].notes[j].degree, before.Cells[i].notes[j].degree);
            EXPECT_EQ(after.Cells[i].notes[j].accidental, before.Cells[i].notes[j].accidental);
        }
    }
}

using MainWindowTest = WindowsTest;

// ---------------------------------------------------------------- start-up

TEST_F(MainWindowTest, StartupShowsTheFirstCellOfTheBookAndNoNotes)
{
    const struct {
        std::string cells;
        QString counter;
    } cases[] = {{Book(12), "cell 1 of 12"}, {"0", "cell 0 of 0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.counter.toStdString());
        StartProgram(c.cells);
        EXPECT_EQ(Form1->Label1->text(), c.counter);
        EXPECT_EQ(Form1->Label1->size(), Form1->Label1->sizeHint());  // sized to its text
        for (QLabel* label : Form1->NoteLabels)
            EXPECT_TRUE(label->isHidden());
        EXPECT_EQ(Form1->State.CurrentCell, 0);
        EXPECT_EQ(Form1->State.KeyOffset, 0);
        EXPECT_EQ(Form1->State.PoolLimit, 3);
        EXPECT_TRUE(Device(0).IsOpen());
        EXPECT_EQ(Form1->StatusText(), QString());
        DestroyWindows();
    }
}

TEST_F(MainWindowTest, StartupFileComesFromTheWorkingFolderOrElseTheInstalledCopy)
{
    const QString installed = dir_.filePath("installed");
    ASSERT_TRUE(QDir().mkpath(installed));
    TForm1::SetStartupFallbackForTesting(QStringList{installed});

    const struct {
        const char* what;
        std::optional<std::string> here;       // majortonic.txt in the working folder
        std::optional<std::string> installed;  // the copy installed with the program
        QString counter;
        QStringList statusHas;                 // empty: no status line
    } cases[] = {
        {"working folder first", Book(5), Book(3), "cell 1 of 5", {}},
        {"installed copy", std::nullopt, Book(3), "cell 1 of 3", {}},
        {"neither", std::nullopt, std::nullopt, "cell 0 of 0",
         {"majortonic.txt", "not found", QDir::toNativeSeparators(dir_.path()), "File > Open"}},
        // A broken file of the user's own is reported, not replaced.
        {"broken in the working folder", "2\n1 0 1\n1 0 9\n", Book(3), "cell 0 of 0",
         {"majortonic.txt, line 3", "9"}},
        {"broken installed copy", std::nullopt, "1\n1 30 1\n", "cell 0 of 0", {"line 2", "30"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(dir_.filePath("majortonic.txt"));
        QFile::remove(installed + "/majortonic.txt");
        if (c.here)
            WriteFile("majortonic.txt", *c.here);
        if (c.installed)
            WriteFile("installed/majortonic.txt", *c.installed);

        StartProgram(std::nullopt);
        EXPECT_EQ(Form1->Label1->text(), c.counter);
        if (c.statusHas.isEmpty()) {
            EXPECT_EQ(Form1->StatusText(), QString());
        }
        for (const QString& part : c.statusHas)
            EXPECT_TRUE(Form1->StatusText().contains(part)) << Form1->StatusText().toStdString();
        EXPECT_TRUE(errorBoxes_.empty());
        EXPECT_TRUE(warnings_.empty());
        DestroyWindows();
    }
}

TEST_F(MainWindowTest, FailedOpenOfDeviceZeroIsToldInTheStatusLineAndPlaybackIsSilent)
{
    StartProgram("1\n3 0 1 2 1 4 1\n", {false});
    EXPECT_FALSE(Form1->MaxMidiOut->IsOpen());
    EXPECT_TRUE(errorBoxes_.empty());
    const QString status = Form1->StatusText();
    EXPECT_TRUE(status.startsWith("No sound")) << status.toStdString();
    EXPECT_TRUE(status.contains("Setup > MIDI Setup")) << status.toStdString();
    EXPECT_TRUE(status.contains(QString::fromStdString(Form1->MaxMidiOut->LastOpenError())));
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 1");

    // The status line takes its room from the window, not from the controls.
    Form1->show();
    Form1->resize(500, 400);
    Form1->ReportMidiOpenFailure();
    QApplication::processEvents();
    const QRect client = Form1->centralWidget()->rect();
    EXPECT_TRUE(client.contains(Form1->GroupBox2->geometry()));
    EXPECT_TRUE(client.contains(Form1->Shape2->geometry()));

    // Silent, yet every note keeps its length.
    Form1->TrackBar1->setValue(1990);
    const auto start = std::chrono::steady_clock::now();
    Form1->PlayButton->click();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2 * 10ms);
    Form1->TonicButton->click();
    EXPECT_TRUE(Device(0).Messages().empty());
}

// ---------------------------------------------------------------- the window as designed

QString Caption(const QWidget* widget)
{
    if (auto* button = qobject_cast<const QPushButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<const QGroupBox*>(widget))
        return box->title();
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    return {};
}

TEST_F(MainWindowTest, ControlsStandWhereTheyAreDesigned)
{
    StartProgram(Book(12));
    EXPECT_EQ(Form1->windowTitle(), "Vocarine");
    EXPECT_EQ(Form1->pos(), QPoint(206, 123));
    EXPECT_EQ(Form1->size(), QSize(734, 628));

    const struct {
        const char* name;
        const char* container;
        QRect geometry;
        QString caption;
    } controls[] = {
        {"Shape2", "ClientArea", {213, 69, 479, 369}, {}},
        {"DisplayButton", "ClientArea", {59, 297, 123, 37}, "Display"},
        {"PlayButton", "ClientArea", {59, 247, 123, 37}, "Play"},
        {"TrackBar1", "ClientArea", {457, 500, 184, 55}, {}},
        {"GroupBox1", "ClientArea", {27, 71, 164, 132}, "KEY"},
        {"TonicButton", "GroupBox1", {22, 31, 121, 31}, "Where's Do?"},
        {"NewKeyButton", "GroupBox1", {23, 78, 120, 30}, "Select New Key"},
        {"GroupBox2", "ClientArea", {59, 460, 355, 106}, "GET ANOTHER CELL"},
        {"KeepButton", "GroupBox2", {20, 27, 80, 31}, "Keep"},
        {"DiscardButton", "GroupBox2", {20, 59, 80, 31}, "Move On"},
        // Texts that size themselves: only their place is fixed.
        {"StaticText1", "GroupBox2", {111, 33, 0, 0}, "Come back to this one again"},
        {"StaticText2", "GroupBox2", {111, 64, 0, 0}, "Done with this cell"},
        {"StaticText3", "ClientArea", {521, 474, 0, 0}, "Tempo"},
        {"Label1", "ClientArea", {225, 30, 0, 0}, "cell 1 of 12"},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        auto* widget = Form1->findChild<QWidget*>(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), c.container);
        EXPECT_EQ(Caption(widget), c.caption);
        if (c.geometry.isEmpty()) {
            EXPECT_EQ(widget->pos(), c.geometry.topLeft());
            EXPECT_EQ(widget->size(), widget->sizeHint());  // the whole caption shows
        } else {
            EXPECT_EQ(widget->geometry(), c.geometry);
        }
    }

    EXPECT_EQ(Form1->font().pixelSize(), 14);
    for (QWidget* big : {static_cast<QWidget*>(Form1->Label1), static_cast<QWidget*>(Form1->DisplayButton),
                         static_cast<QWidget*>(Form1->PlayButton)})
        EXPECT_EQ(big->font().pixelSize(), 20) << big->objectName().toStdString();

    EXPECT_EQ(Form1->TrackBar1->orientation(), Qt::Horizontal);
    EXPECT_EQ(Form1->TrackBar1->minimum(), 50);
    EXPECT_EQ(Form1->TrackBar1->maximum(), 2000);
    EXPECT_EQ(Form1->TrackBar1->value(), 1200);
    EXPECT_EQ(Form1->TrackBar1->tickPosition(), QSlider::NoTicks);
    EXPECT_NE(Form1->Shape2->Brush(), QColor(Qt::white));

    EXPECT_EQ(Form1->Timer1->interval(), 1000);
    EXPECT_TRUE(Form1->Timer1->isActive());

    // Menus in order, plain captions without accelerator keys.
    QStringList menus;
    for (QAction* action : Form1->MainMenu1->actions())
        menus << action->text();
    EXPECT_EQ(menus, QStringList({"File", "Setup", "AutoDrive"}));
    EXPECT_EQ(Form1->File1->actions(), QList<QAction*>{Form1->OpenFile1});
    EXPECT_EQ(Form1->MIDISetup1->actions(), (QList<QAction*>{Form1->MIDISetup2, Form1->MicrophoneSetup1}));
    EXPECT_EQ(Form1->Au1->actions(), QList<QAction*>{Form1->AutoDrive1});
    EXPECT_EQ(Form1->OpenFile1->text(), "Open");
    EXPECT_EQ(Form1->MIDISetup2->text(), "MIDI Setup");
    EXPECT_EQ(Form1->MicrophoneSetup1->text(), "Microphone Setup");
    EXPECT_EQ(Form1->AutoDrive1->text(), "AutoDrive");

    // Shown, the client area under the menu bar holds every control whole.
    Form1->show();
    QApplication::processEvents();
    const QRect client = Form1->centralWidget()->rect();
    for (QWidget* control : Form1->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!control->isHidden()) {
            EXPECT_TRUE(client.contains(control->geometry())) << control->objectName().toStdString();
        }
    }
    EXPECT_GE(Form1->centralWidget()->y(), Form1->MainMenu1->height());
}

TEST_F(MainWindowTest, TabKeyVisitsTheControlsInTheirDesignedOrder)
{
    StartProgram(Book(12));
    Form1->show();
    QList<QWidget*> chain;
    QWidget* widget = Form1->DisplayButton;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && Form1->isAncestorOf(widget) && widget->isVisibleTo(Form1))
            chain << widget;
        widget = widget->nextInFocusChain();
    } while (widget != Form1->DisplayButton);
    const QList<QWidget*> designed{Form1->DisplayButton, Form1->SingButton, Form1->PlayButton, Form1->TrackBar1,
                                   Form1->TonicButton,   Form1->NewKeyButton, Form1->KeepButton,
                                   Form1->DiscardButton};
    EXPECT_EQ(chain, designed);
}

// ---------------------------------------------------------------- File > Open

TEST_F(MainWindowTest, OpenLoadsTheChosenFile)
{
    StartProgram(Book(12));
    Form1->State.CellDone[0] = 1;
    Form1->State.PoolLimit = 7;
    const QString path = WriteFile("five.txt", Book(5));
    QString initialDir;
    QString filter;
    TOpenDialog::SetAnswerForTesting([&](TOpenDialog& dialog) {
        initialDir = dialog.InitialDir;
        filter = dialog.Filter;
        dialog.FileName = path;
        return true;
    });

    Form1->OpenFile1->trigger();

    EXPECT_EQ(initialDir, QDir::currentPath());
    EXPECT_EQ(filter, "*.txt");
    EXPECT_EQ(Form1->State.CellCount, 5);
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 5");
    EXPECT_EQ(Form1->State.CellDone[0], 0);
    EXPECT_EQ(Form1->State.PoolLimit, 3);
    EXPECT_TRUE(warnings_.empty());
}

TEST_F(MainWindowTest, CancelChangesNothingWithOrWithoutAnEarlierChoice)
{
    StartProgram(Book(12));
    Form1->State.CurrentCell = 4;
    Form1->State.CellDone[2] = 1;
    Form1->State.PoolLimit = 6;
    Form1->ShowCellCounter();
    vocarine::TrainerState before = Form1->State;
    Form1->OpenFile1->trigger();  // the fixture answers Cancel
    ExpectSameTrainer(before, Form1->State);
    EXPECT_EQ(Form1->Label1->text(), "cell 5 of 12");

    // A file chosen earlier is not read again on Cancel: progress made since stays.
    const QString path = WriteFile("five.txt", Book(5));
    TOpenDialog::SetAnswerForTesting([&](TOpenDialog& dialog) {
        dialog.FileName = path;
        return true;
    });
    Form1->OpenFile1->trigger();
    ASSERT_EQ(Form1->State.CellCount, 5);
    Form1->State.CellDone[1] = 1;
    Form1->State.PoolLimit = 4;
    WriteFile("five.txt", Book(2));
    before = Form1->State;
    TOpenDialog::SetAnswerForTesting([](TOpenDialog&) { return false; });
    Form1->OpenFile1->trigger();
    ExpectSameTrainer(before, Form1->State);
    EXPECT_EQ(Form1->OpenDialog1->FileName, path);  // the dialog still offers it
    EXPECT_TRUE(warnings_.empty());
}

TEST_F(MainWindowTest, RefusedFileIsNamedWithItsLineAndChangesNothing)
{
    StartProgram(Book(12));
    Form1->State.CellDone[2] = 1;
    Form1->State.PoolLimit = 6;
    const vocarine::TrainerState before = Form1->State;
    const QString bad = WriteFile("bad.txt", "2\n1 0 1\n1 23 1\n");
    TOpenDialog::SetAnswerForTesting([&](TOpenDialog& dialog) {
        dialog.FileName = bad;
        return true;
    });

    Form1->OpenFile1->trigger();

    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_TRUE(warnings_[0].contains("bad.txt, line 3")) << warnings_[0].toStdString();
    EXPECT_TRUE(warnings_[0].contains("23")) << warnings_[0].toStdString();
    ExpectSameTrainer(before, Form1->State);
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 12");
    EXPECT_TRUE(errorBoxes_.empty());
}

TEST_F(MainWindowTest, SmallerBookMovesACellPastItsEndToTheFirstAndLeavesTheShownCell)
{
    StartProgram(Book(12));
    Form1->State.CurrentCell = 8;
    Form1->DisplayButton->click();  // do, in the first column
    ASSERT_FALSE(Form1->NoteLabels[0]->isHidden());
    const QRect shown = Form1->NoteLabels[0]->geometry();
    const QString path = WriteFile("sol.txt", "5\n2 4 1 4 1\n1 4 1\n1 4 1\n1 4 1\n1 4 1\n");
    TOpenDialog::SetAnswerForTesting([&](TOpenDialog& dialog) {
        dialog.FileName = path;
        return true;
    });

    Form1->OpenFile1->trigger();

    EXPECT_EQ(Form1->State.CurrentCell, 0);
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 5");
    // The old cell stays on show until the next Display, Keep or Move On.
    EXPECT_FALSE(Form1->NoteLabels[0]->isHidden());
    EXPECT_EQ(Form1->NoteLabels[0]->text(), "do");
    EXPECT_EQ(Form1->NoteLabels[0]->geometry(), shown);
    EXPECT_TRUE(Form1->NoteLabels[1]->isHidden());
}

// ---------------------------------------------------------------- the error box

TEST(ErrorBoxTextTest, EndsWithOneFullStop)
{
    const struct {
        QString message;
        QString text;
    } cases[] = {
        {"Load of the MIDI library failed", "Load of the MIDI library failed."},
        {"Done.", "Done."},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorBoxText(c.message), c.text) << c.message.toStdString();
}

class ThrowingObject : public QObject {
public:
    static constexpr auto StdError = QEvent::Type(QEvent::User + 1);
    static constexpr auto OtherError = QEvent::Type(QEvent::User + 2);
    static constexpr auto Plain = QEvent::Type(QEvent::User + 3);
    int delivered = 0;

    bool event(QEvent* event) override
    {
        if (event->type() == StdError)
            throw std::runtime_error("The cell book is on fire");
        if (event->type() == OtherError)
            throw 42;
        if (event->type() == Plain) {
            ++delivered;
            return true;
        }
        return QObject::event(event);
    }
};

TEST_F(MainWindowTest, ExceptionFromAHandlerShowsTheErrorBoxAndTheProgramGoesOn)
{
    StartProgram(Book(3));

    // Any receiver: the application object catches what escapes an event.
    ThrowingObject object;
    QCoreApplication::postEvent(&object, new QEvent(ThrowingObject::StdError));
    QCoreApplication::postEvent(&object, new QEvent(ThrowingObject::OtherError));
    QCoreApplication::postEvent(&object, new QEvent(ThrowingObject::Plain));
    QCoreApplication::sendPostedEvents(&object);
    EXPECT_EQ(errorBoxes_, (std::vector<QString>{"The cell book is on fire.", ""}));
    EXPECT_EQ(object.delivered, 1);

    // A handler of the main window, run from the event loop.
    errorBoxes_.clear();
    TOpenDialog::SetAnswerForTesting([](TOpenDialog&) -> bool { throw std::runtime_error("No such folder"); });
    QTimer::singleShot(0, Form1->OpenFile1, &QAction::trigger);
    QTimer::singleShot(0, Form1->DisplayButton, &QPushButton::click);
    QApplication::processEvents();
    EXPECT_EQ(errorBoxes_, std::vector<QString>{"No such folder."});
    EXPECT_FALSE(Form1->NoteLabels[0]->isHidden());  // the next event was handled
}

TEST_F(MainWindowTest, ExceptionAtStartupShowsTheErrorBoxAndCreatesNoFurtherWindow)
{
    vocarine::TMaxMidi::SetDeviceProvider([]() -> vocarine::MidiDeviceList {
        throw vocarine::EMaxMidiException("Load of the MIDI library failed");
    });

    EXPECT_FALSE(StartVocarine());

    EXPECT_EQ(errorBoxes_, std::vector<QString>{"Load of the MIDI library failed."});
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(Form2, nullptr);
    EXPECT_EQ(AutoForm, nullptr);
    EXPECT_EQ(TonicForm, nullptr);
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_TRUE(!qobject_cast<TForm1*>(window) && !qobject_cast<TForm2*>(window) &&
                    !qobject_cast<TAutoForm*>(window) && !qobject_cast<TTonicForm*>(window))
            << window->metaObject()->className();
}

TEST_F(MainWindowTest, StartShowsOnlyTheMainWindow)
{
    WriteFile("majortonic.txt", Book(4));
    UseDevices({true});
    ASSERT_TRUE(StartVocarine());
    EXPECT_TRUE(Form1->isVisible());
    // The hidden windows are made once the main window is on the screen.
    EXPECT_EQ(Form2, nullptr);
    ASSERT_TRUE(WaitFor([] { return MicForm != nullptr; }, 5000));
    ASSERT_NE(TonicForm, nullptr);
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_FALSE(AutoForm->isVisible());
    EXPECT_FALSE(TonicForm->isVisible());
    EXPECT_TRUE(errorBoxes_.empty());
}

TEST_F(MainWindowTest, ClosingTheProgramResetsAndClosesThePortBeforeTheMidiLayerGoes)
{
    std::vector<std::string> log;
    vocarine::TMaxMidi::SetDeviceProvider([&log] {
        vocarine::MidiDeviceList list;
        list.push_back(std::make_unique<LoggingDevice>(log));
        return list;
    });
    WriteFile("majortonic.txt", Book(2));
    CreateWindows();
    ASSERT_TRUE(Form1->MaxMidiOut->IsOpen());
    log.clear();

    DestroyWindows();

    EXPECT_EQ(log, (std::vector<std::string>{"reset", "close", "gone"}));
    EXPECT_EQ(Form1, nullptr);
}

// ---------------------------------------------------------------- the cell view

// cell 0: ten notes up the scale; 1: seven notes; 2: sol mi do; 3: no notes;
// 4: ti-sharp of the lowest octave and do of the middle one, the same pitch.
const std::string ViewBook =
    "5\n"
    "10 0 1 1 1 2 1 3 1 4 1 5 1 6 1 7 1 8 1 9 1\n"
    "7 7 1 8 1 9 1 10 1 11 1 12 1 13 1\n"
    "3 4 1 2 1 0 1\n"
    "0\n"
    "2 6 2 7 1\n";

struct Shown {
    QString text;
    int top;
};

void ExpectCell(const std::vector<Shown>& notes)
{
    for (int j = 0; j < 10; ++j) {
        SCOPED_TRACE("label " + std::to_string(j));
        const QLabel* label = Form1->NoteLabels[j];
        EXPECT_EQ(label->x(), 253 + 50 * j);  // the column never moves
        if (j >= static_cast<int>(notes.size())) {
            EXPECT_TRUE(label->isHidden());
            continue;
        }
        EXPECT_FALSE(label->isHidden());
        EXPECT_EQ(label->text(), notes[j].text);
        EXPECT_EQ(label->y(), notes[j].top);
        EXPECT_EQ(label->size(), label->sizeHint());  // sized to its syllable
    }
}

TEST_F(MainWindowTest, CellViewPutsEachSyllableInItsColumnAtItsPitch)
{
    StartProgram(ViewBook);
    const std::vector<Shown> scale{{"do", 438}, {"re", 418},  {"mi", 398},  {"fa", 388}, {"sol", 368},
                                   {"la", 348}, {"ti", 328},  {"do", 318},  {"re", 298}, {"mi", 278}};
    Form1->ShowCell(0);
    ExpectCell(scale);
    // The last column starts right of the panel.
    EXPECT_GT(Form1->NoteLabels[9]->x(), Form1->Shape2->geometry().right());

    // The key changes the sound, never the picture.
    Form1->State.KeyOffset = 9;
    Form1->ShowCell(0);
    ExpectCell(scale);

    Form1->ShowCell(1);
    Form1->ShowCell(2);
    ExpectCell({{"sol", 368}, {"mi", 398}, {"do", 438}});

    Form1->ShowCell(4);
    ASSERT_FALSE(Form1->NoteLabels[1]->isHidden());
    EXPECT_EQ(Form1->NoteLabels[0]->y(), 318);
    EXPECT_EQ(Form1->NoteLabels[1]->y(), 318);

    Form1->ShowCell(3);
    ExpectCell({});
    // Places outside the book show nothing rather than reading past it.
    Form1->ShowCell(2);
    Form1->ShowCell(-1);
    ExpectCell({});
    Form1->ShowCell(2);
    Form1->ShowCell(vocarine::MaxCells);
    ExpectCell({});
}

TEST_F(MainWindowTest, NoteLabelsLieOverThePanelInItsColour)
{
    StartProgram(ViewBook);
    const QObjectList& stack = Form1->centralWidget()->children();
    for (const QLabel* label : Form1->NoteLabels) {
        EXPECT_EQ(label->parentWidget(), Form1->centralWidget());
        EXPECT_GT(stack.indexOf(label), stack.indexOf(Form1->Shape2));  // drawn after, so on top
        EXPECT_TRUE(label->autoFillBackground());
        EXPECT_EQ(label->palette().color(QPalette::Window), Form1->Shape2->Brush());
        EXPECT_EQ(label->alignment(), Qt::AlignCenter);
        const QString family = QFontInfo(label->font()).family();
        EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
    }
}

TEST_F(MainWindowTest, DisplayShowsTheCurrentCellTheSameEachTimeAndKeepHidesIt)
{
    StartProgram(ViewBook);
    Form1->State.CurrentCell = 2;
    auto picture = [] {
        std::vector<std::tuple<QString, QRect, bool>> shot;
        for (const QLabel* label : Form1->NoteLabels)
            shot.emplace_back(label->text(), label->geometry(), label->isHidden());
        return shot;
    };
    Form1->DisplayButton->click();
    ExpectCell({{"sol", 368}, {"mi", 398}, {"do", 438}});
    const auto first = picture();
    Form1->DisplayButton->click();
    EXPECT_EQ(picture(), first);
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 5");  // Display leaves the counter alone

    Form1->KeepButton->click();
    ExpectCell({});
    EXPECT_NE(Form1->State.CurrentCell, 2);
    EXPECT_EQ(Form1->Label1->text(), QString("cell %1 of 5").arg(Form1->State.CurrentCell + 1));
}

// ---------------------------------------------------------------- playback

// cell 0: do-flat of the lowest octave, do of the middle one, ti-sharp of the
// top one (the lowest and highest notes); 1: sol alone; 2: no notes.
const std::string PlayBook =
    "3\n"
    "3 0 0 7 1 20 2\n"
    "1 4 1\n"
    "0\n";

TEST_F(MainWindowTest, PlaySendsLegatoNotesInTheKeyAtTheTempo)
{
    StartProgram(PlayBook);
    const struct {
        int keyOffset;
        int trackBar;
        std::vector<uint8_t> keys;
    } cases[] = {
        {-2, 1990, {45, 58, 82}},
        {9, 1990, {56, 69, 93}},
        {0, 2000, {47, 60, 84}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("key " + std::to_string(c.keyOffset) + ", track bar " + std::to_string(c.trackBar));
        Device(0).Clear();
        Form1->State.KeyOffset = c.keyOffset;
        Form1->TrackBar1->setValue(c.trackBar);

        Form1->PlayButton->click();

        const std::vector<RecordedMessage>& sent = Device(0).Messages();
        ASSERT_EQ(sent.size(), 5u);
        const uint8_t statuses[] = {144, 128, 144, 128, 144};
        const std::size_t keyOf[] = {0, 0, 1, 1, 2};
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].status, statuses[i]) << i;
            EXPECT_EQ(sent[i].data1, c.keys[keyOf[i]]) << i;
            EXPECT_EQ(sent[i].data2, 80) << i;
        }
        const auto w = std::chrono::milliseconds(2000 - c.trackBar);
        EXPECT_GE(sent[1].at - sent[0].at, w);
        EXPECT_GE(sent[3].at - sent[2].at, w);
    }
}

TEST_F(MainWindowTest, OneNoteSendsOneNoteOnAndNoNotesSendNothing)
{
    StartProgram(PlayBook);
    Form1->State.CurrentCell = 1;
    Form1->PlayButton->click();
    ASSERT_EQ(Device(0).Messages().size(), 1u);
    EXPECT_EQ(Device(0).Messages()[0].status, 144);
    EXPECT_EQ(Device(0).Messages()[0].data1, 55);
    EXPECT_EQ(Device(0).Messages()[0].data2, 80);

    Device(0).Clear();
    Form1->State.CurrentCell = 2;
    Form1->PlayButton->click();
    EXPECT_TRUE(Device(0).Messages().empty());
}

TEST(PlayCellNotesTest, AsksTheNoteLengthAfreshForEveryNote)
{
    auto owned = std::make_unique<vocarine::RecordingDevice>();
    vocarine::RecordingDevice& device = *owned;
    vocarine::MidiDeviceList devices;
    devices.push_back(std::move(owned));
    vocarine::TMaxMidi midi(std::move(devices));
    vocarine::TMaxMidiOut out(midi);
    ASSERT_GT(out.OpenMidiOut(0, vocarine::OpenFlags), 32);

    vocarine::TrainerState state;
    vocarine::BuildNoteTable(state.NoteTable);
    state.CellCount = 1;
    state.Cells[0].count = 3;
    state.Cells[0].notes[0] = {0, 1};
    state.Cells[0].notes[1] = {2, 1};
    state.Cells[0].notes[2] = {4, 1};
    const int lengths[] = {0, 20};
    int asked = 0;
    PlayCellNotes(out, state, [&] { return lengths[asked++]; });

    EXPECT_EQ(asked, 2);  // once for every note but the last
    const auto& sent = device.Messages();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_GE(sent[3].at - sent[2].at, 20ms);
}

// A file of no cells leaves the places of the earlier book filled, but none of
// them is a cell of the book any more.
TEST_F(MainWindowTest, AnEmptyBookShowsAndPlaysNothingUntilABookWithCellsComes)
{
    StartProgram(PlayBook);
    Form1->TrackBar1->setValue(2000);
    QString chosen;
    TOpenDialog::SetAnswerForTesting([&](TOpenDialog& dialog) {
        dialog.FileName = chosen;
        return true;
    });
    Form1->DisplayButton->click();  // cell 0 is on the staff when the empty book comes
    chosen = WriteFile("empty.txt", "0");
    Form1->OpenFile1->trigger();
    ASSERT_EQ(Form1->State.CellCount, 0);
    EXPECT_EQ(Form1->Label1->text(), "cell 0 of 0");

    Form1->DisplayButton->click();
    ExpectCell({});
    Form1->PlayButton->click();
    Form1->KeepButton->click();
    Form1->DiscardButton->click();
    EXPECT_EQ(Form1->Label1->text(), "cell 0 of 0");
    // The AutoDrive's steps, in both modes: nothing shown, nothing sounded.
    AutoForm->UpDown1->SetPosition(1);
    AutoForm->UpDown2->SetPosition(1);
    for (const int mode : {0, 1}) {
        AutoForm->RadioGroup1->SetItemIndex(mode);
        AutoForm->Button1->click();  // START
        for (int tick = 0; tick < 6; ++tick) {
            Form1->Timer1Timer(Form1->Timer1);
            ExpectCell({});
        }
        AutoForm->Button1->click();  // STOP
    }
    EXPECT_TRUE(Device(0).Messages().empty());
    EXPECT_EQ(Form1->Label1->text(), "cell 0 of 0");

    chosen = WriteFile("full.txt", PlayBook);
    Form1->OpenFile1->trigger();
    EXPECT_EQ(Form1->Label1->text(), "cell 1 of 3");
    Form1->State.CurrentCell = 1;
    Form1->DisplayButton->click();
    ExpectCell({{"sol", 368}});
    Form1->PlayButton->click();
    ASSERT_EQ(Device(0).Messages().size(), 1u);
    EXPECT_EQ(Device(0).Messages()[0].data1, 55);
}

// What a person reads in a label or a tooltip of this text format.
QString AsRead(const QString& text, Qt::TextFormat format)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

TEST_F(MainWindowTest, StatusLineAndTooltipsShowWordsFromFilesAndOtherProgramsAsTheyStand)
{
    WriteFile("majortonic.txt", "1\n1 0 <b>x\n");
    vocarine::TMaxMidi::SetDeviceProvider([] {
        vocarine::MidiDeviceList list;
        list.push_back(std::make_unique<vocarine::RecordingDevice>("<i>Port</i> of <b>x", false));
        return list;
    });
    CreateWindows();

    const QString status = Form1->StatusText();
    EXPECT_TRUE(status.contains("<b>x")) << status.toStdString();
    EXPECT_TRUE(status.contains("<i>Port</i> of <b>x")) << status.toStdString();
    EXPECT_EQ(AsRead(status, Form1->StatusLine->textFormat()), status);
    EXPECT_EQ(AsRead(Form1->StatusLine->toolTip(), Qt::AutoText), status);

    Form2->show();
    Form2->ListBox1->setCurrentRow(0);
    const QString error = QString::fromStdString(Form1->MaxMidiOut->LastOpenError());
    ASSERT_TRUE(error.contains("<i>Port</i>")) << error.toStdString();
    EXPECT_EQ(AsRead(Form2->ListBox1->item(0)->toolTip(), Qt::AutoText), error);
    EXPECT_EQ(Form2->ListBox1->item(0)->text(), "<i>Port</i> of <b>x");
}

TEST_F(MainWindowTest, TonicStrikesDoOfTheKeyEachTime)
{
    StartProgram(PlayBook);
    const struct {
        int keyOffset;
        uint8_t key;
    } cases[] = {{-2, 58}, {0, 60}, {9, 69}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyOffset);
        Device(0).Clear();
        Form1->State.KeyOffset = c.keyOffset;
        Form1->TonicButton->click();
        Form1->TonicButton->click();
        const auto& sent = Device(0).Messages();
        ASSERT_EQ(sent.size(), 2u);
        for (const RecordedMessage& m : sent) {
            EXPECT_EQ(m.status, 144);
            EXPECT_EQ(m.data1, c.key);
            EXPECT_EQ(m.data2, 80);
        }
    }
}

// ---------------------------------------------------------------- the other windows

TEST_F(MainWindowTest, MenusAndButtonsOpenTheOtherWindows)
{
    StartProgram(Book(12));
    Form1->move(400, 300);

    Form1->AutoDrive1->trigger();
    EXPECT_TRUE(AutoForm->isVisible());
    // The counter's place in the window, used as a screen position.
    EXPECT_EQ(AutoForm->pos(), QPoint(225 + Form1->Label1->width() + 20, Form1->frameGeometry().top()));

    Form1->MIDISetup2->trigger();
    EXPECT_TRUE(Form2->isVisible());

    bool modal = false;
    QTimer::singleShot(0, [&modal] {
        modal = TonicForm->isVisible() && TonicForm->isModal();
        TonicForm->reject();
    });
    Form1->NewKeyButton->click();  // returns once the dialog is closed
    EXPECT_TRUE(modal);
    EXPECT_FALSE(TonicForm->isVisible());
}

TEST_F(MainWindowTest, TimerTicksDriveTheAutoDriveOnlyWhileItRuns)
{
    StartProgram(ViewBook);
    Form1->Timer1Timer(Form1->Timer1);
    EXPECT_EQ(Form1->State.DisplayCountdown, 0);
    ExpectCell({});

    AutoForm->Button1->click();  // START, Singing Mode: a cell is due
    Form1->Timer1Timer(Form1->Timer1);
    EXPECT_GT(Form1->State.DisplayCountdown, 0);
    const int shown = Form1->State.Cells[Form1->State.CurrentCell].count;
    for (int j = 0; j < 10; ++j)
        EXPECT_EQ(Form1->NoteLabels[j]->isHidden(), j >= shown) << j;
}

}  // namespace
