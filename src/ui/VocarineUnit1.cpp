#include "ui/VocarineUnit1.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QPaintEvent>
#include <QShowEvent>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "audio/PitchTracker.h"
#include "core/AutoDrive.h"
#include "core/Random.h"
#include "core/Rotation.h"
#include "midi/Backends.h"
#include "ui/Application.h"
#include "ui/Design.h"
#include "ui/AutoUnit3.h"
#include "ui/MicUnit4.h"
#include "ui/LiveWait.h"
#include "ui/MidiUnit2.h"
#include "ui/OpenDialog.h"
#include "ui/PitchTrace.h"
#include "ui/Playback.h"
#include "ui/Shape.h"
#include "ui/TonicUnit3.h"

TForm1* Form1 = nullptr;

// Geometry is in the design's pixels, used one to one as logical pixels, so
// the window keeps its proportions on any screen (Qt scales logical pixels on
// high-density screens). Control positions are relative to the client area
// under the menu bar, as in the designer the window was laid out with.
namespace {

const QString StartupCellFile = QStringLiteral("majortonic.txt");

constexpr int WindowLeft = 206;
constexpr int WindowTop = 123;
constexpr int WindowWidth = 734;
constexpr int WindowHeight = 628;

// The system's active-border grey, the staff panel's fill.
const QColor ActiveBorder(180, 180, 180);

// Note-label columns: 50 pixels apart, the first 40 pixels into the panel;
// a semitone is 10 pixels of height.
constexpr int NoteColumnWidth = 50;
constexpr int NoteColumnIndent = 40;
constexpr int SemitoneHeight = 10;
constexpr int NoteLabelTop = 200;
constexpr int NoteLabelWidth = 15;
constexpr int NoteLabelPixels = DesignPixels(16);

// Listening reads the input this often; a hop of sound reaches the screen
// within one read and one paint.
constexpr int ListenIntervalMs = 10;
// A sample this close to full scale means the take clipped.
constexpr float ClipLevel = 0.999f;

std::optional<vocarine::TakeLimits>& TakeLimitsOverride()
{
    static std::optional<vocarine::TakeLimits> limits;
    return limits;
}
// When the audio inputs are searched if the window has not been painted by then.
constexpr int AudioSearchFallbackMs = 1000;

std::optional<QStringList>& FallbackOverride()
{
    static std::optional<QStringList> folders;
    return folders;
}

// Runs a handler so that an exception from it ends at the error box and never
// unwinds through Qt's own code.
template <typename Handler>
auto Guarded(Handler handler)
{
    return [handler = std::move(handler)]() {
        try {
            handler();
        } catch (const std::exception& error) {
            ShowErrorBox(QString::fromUtf8(error.what()));
        } catch (...) {
            ShowErrorBox(QString());
        }
    };
}

QString WithFullStop(const QString& text)
{
    return ErrorBoxText(text);
}

}  // namespace

TForm1::TForm1(QWidget* owner)
    : QMainWindow(owner)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vocarine"));
    // The designed place and size are those of the outer frame. Until the
    // window is shown the frame is not known, so the size is fitted again then.
    move(WindowLeft, WindowTop);
    resize(WindowWidth, WindowHeight);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setFont(DesignFont(14));

    // First, so that the system's MIDI ports are listed on the MIDI layer's
    // worker while the window is built.
    CreateMidi();
    CreateControls();
    AudioInputs = std::make_unique<vocarine::AudioInputs>(vocarine::AudioDeviceList{});
    AudioInputPort = std::make_unique<vocarine::AudioInputPort>(*AudioInputs);
    CreateMenu();
    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->Filter = QStringLiteral("*.txt|*.txt");
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, Guarded([this] { Timer1Timer(Timer1); }));
    Timer1->start(1000);
    clock_.start();
    liveWait_ = new LiveWait(this, Timer1);

    BuildNoteTable();
    CreateNoteLabels();
    State.CellCount = 0;
    State.CurrentCell = 0;
    MaxMidiOut->OpenMidiOut(0, vocarine::OpenFlags);
    ReportMidiOpenFailure();
    LoadStartupCells();
    ShowCellCounter();
    State.KeyOffset = 0;
    State.PoolLimit = 3;
    vocarine::SeedRandomFromClock();
    State.CellDone.fill(0);
    State.CellRepeats.fill(0);
    CreateListening();
    // The devices are made ready once the window is first painted (see
    // paintEvent); a window that is never painted does it a little later.
    QTimer::singleShot(AudioSearchFallbackMs, this, [this] { StartDeviceWork(); });
}

TForm1::~TForm1()
{
    // Workers still held would never end, and their owners wait for them.
    vocarine::ReleaseStartupWork();
    // The search hands its result to this window: it ends first.
    if (audioInputSearch_.joinable())
        audioInputSearch_.join();
    // Nothing reads the input once the window goes.
    if (ListenTimer)
        ListenTimer->stop();
    take_.reset();
    AudioInputPort.reset();
    AudioInputs.reset();
    // The port is reset and closed while the MIDI layer is still there.
    MaxMidiOut.reset();
    MaxMidi.reset();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    // Opening the synthesizer, listing the ports and searching the inputs ask
    // the sound servers and take a processor each: they wait until the window
    // is on the screen, that is after this paint has been handed to it.
    if (!onScreen_)
        QTimer::singleShot(0, this, [this] { StartDeviceWork(); });
}

void TForm1::StartDeviceWork()
{
    if (onScreen_)
        return;
    onScreen_ = true;
    emit OnScreen();
    vocarine::ReleaseStartupWork();
    StartAudioInputSearch();
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    // The designed size is the outer one, frame included.
    resize(ClientSizeFor(this, {WindowWidth, WindowHeight}).expandedTo(SmallestWholeSize()));
}

// The smallest window that still shows every designed control whole, under
// the menu bar and above the status line while it has something to say.
QSize TForm1::SmallestWholeSize() const
{
    QRect controls;
    for (const QWidget* control : centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (std::find(NoteLabels.begin(), NoteLabels.end(), control) == NoteLabels.end() &&
            std::find(CentsLabels.begin(), CentsLabels.end(), control) == CentsLabels.end())
            controls |= control->geometry();
    }
    int height = controls.bottom() + 1 + menuBar()->sizeHint().height();
    if (!statusBar()->isHidden())
        height += statusBar()->sizeHint().height();
    return {controls.right() + 1, height};
}

void TForm1::CreateMidi()
{
    MaxMidi = std::make_unique<vocarine::TMaxMidi>();
    MaxMidiOut = std::make_unique<vocarine::TMaxMidiOut>(*MaxMidi);
    // Both are called on a worker of the MIDI layer; the window hears of them
    // through its event queue. The MIDI layer is gone before this window is.
    MaxMidi->WhenListed([this] {
        QMetaObject::invokeMethod(this, [] { if (Form2) Form2->ListDevices(); }, Qt::QueuedConnection);
    });
    MaxMidiOut->SetFailureHandler([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                ReportMidiOpenFailure();
                // The entry of the device that failed says why, as after a failed open.
                QListWidgetItem* entry = Form2 ? Form2->ListBox1->item(MaxMidiOut->OpenDevice()) : nullptr;
                if (entry != nullptr && !MaxMidiOut->IsOpen())
                    entry->setToolTip(QString::fromStdString(MaxMidiOut->LastOpenError()));
            },
            Qt::QueuedConnection);
    });
}

void TForm1::CreateControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    auto button = [this](QWidget* parent, const char* name, const QString& caption, QRect geometry) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        return b;
    };
    // Static texts size themselves to their text, so a font a little wider
    // than the design's never cuts a caption short.
    auto staticText = [](QWidget* parent, const char* name, const QString& caption, QRect geometry) {
        auto* t = new QLabel(caption, parent);
        t->setObjectName(QString::fromLatin1(name));
        t->setGeometry(geometry);
        t->adjustSize();
        return t;
    };

    Label1 = new QLabel(QStringLiteral("Label1"), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(DesignFont(20));
    Label1->setGeometry(225, 30, 59, 25);

    Shape2 = new TShape(client);
    Shape2->setObjectName(QStringLiteral("Shape2"));
    Shape2->setGeometry(213, 69, 479, 369);
    Shape2->SetBrush(ActiveBorder);

    DisplayButton = button(client, "DisplayButton", QStringLiteral("Display"), {59, 297, 123, 37});
    DisplayButton->setFont(DesignFont(20));
    PlayButton = button(client, "PlayButton", QStringLiteral("Play"), {59, 247, 123, 37});
    PlayButton->setFont(DesignFont(20));
    // Below Display, as far from it as Play is above it.
    SingButton = button(client, "SingButton", QStringLiteral("Sing"), {59, 347, 123, 37});
    SingButton->setFont(DesignFont(20));

    // The sung pitch is drawn over the panel and under the note labels.
    PitchTrace = new TPitchTrace(client);
    PitchTrace->setObjectName(QStringLiteral("PitchTrace"));
    PitchTrace->setGeometry(Shape2->geometry());
    // One line of text under the panel, above the lowest labels' reach.
    GradeLine = new QLabel(client);
    GradeLine->setObjectName(QStringLiteral("GradeLine"));
    GradeLine->setGeometry(Shape2->x(), Shape2->y() + Shape2->height() + 2, Shape2->width(), 18);
    GradeLine->hide();

    TrackBar1 = new QSlider(Qt::Horizontal, client);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setGeometry(457, 500, 184, 55);
    TrackBar1->setRange(50, 2000);
    TrackBar1->setValue(1200);
    TrackBar1->setTickPosition(QSlider::NoTicks);

    GroupBox1 = new QGroupBox(QStringLiteral("KEY"), client);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(27, 71, 164, 132);
    TonicButton = button(GroupBox1, "TonicButton", QStringLiteral("Where's Do?"), {22, 31, 121, 31});
    NewKeyButton = button(GroupBox1, "NewKeyButton", QStringLiteral("Select New Key"), {23, 78, 120, 30});

    GroupBox2 = new QGroupBox(QStringLiteral("GET ANOTHER CELL"), client);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(59, 460, 355, 106);
    KeepButton = button(GroupBox2, "KeepButton", QStringLiteral("Keep"), {20, 27, 80, 31});
    DiscardButton = button(GroupBox2, "DiscardButton", QStringLiteral("Move On"), {20, 59, 80, 31});
    StaticText1 = staticText(GroupBox2, "StaticText1", QStringLiteral("Come back to this one again"),
                             {111, 33, 173, 20});
    StaticText2 = staticText(GroupBox2, "StaticText2", QStringLiteral("Done with this cell"), {111, 64, 109, 20});
    StaticText3 = staticText(client, "StaticText3", QStringLiteral("Tempo"), {521, 474, 48, 20});

    setTabOrder(DisplayButton, SingButton);
    setTabOrder(SingButton, PlayButton);
    setTabOrder(PlayButton, TrackBar1);
    setTabOrder(TrackBar1, TonicButton);
    setTabOrder(TonicButton, NewKeyButton);
    setTabOrder(NewKeyButton, KeepButton);
    setTabOrder(KeepButton, DiscardButton);

    connect(DisplayButton, &QPushButton::clicked, this, Guarded([this] { DisplayButtonClick(DisplayButton); }));
    connect(PlayButton, &QPushButton::clicked, this, Guarded([this] { PlayButtonClick(PlayButton); }));
    connect(SingButton, &QPushButton::clicked, this, Guarded([this] { SingButtonClick(SingButton); }));
    connect(TonicButton, &QPushButton::clicked, this, Guarded([this] { TonicButtonClick(TonicButton); }));
    connect(NewKeyButton, &QPushButton::clicked, this, Guarded([this] { NewKeyButtonClick(NewKeyButton); }));
    connect(KeepButton, &QPushButton::clicked, this, Guarded([this] { KeepButtonClick(KeepButton); }));
    connect(DiscardButton, &QPushButton::clicked, this, Guarded([this] { DiscardButtonClick(DiscardButton); }));

    // The status line shows only while something is wrong.
    StatusLine = new QLabel(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    // It quotes words from cell files and names from other programs.
    StatusLine->setTextFormat(Qt::PlainText);
    // A long message must not hold the window wider than the screen.
    StatusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(StatusLine, 1);
    statusBar()->setVisible(false);
}

void TForm1::CreateMenu()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    File1 = MainMenu1->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    OpenFile1 = File1->addAction(QStringLiteral("Open"));
    OpenFile1->setObjectName(QStringLiteral("OpenFile1"));

    MIDISetup1 = MainMenu1->addMenu(QStringLiteral("Setup"));
    MIDISetup1->setObjectName(QStringLiteral("MIDISetup1"));
    MIDISetup2 = MIDISetup1->addAction(QStringLiteral("MIDI Setup"));
    MIDISetup2->setObjectName(QStringLiteral("MIDISetup2"));
    MicrophoneSetup1 = MIDISetup1->addAction(QStringLiteral("Microphone Setup"));
    MicrophoneSetup1->setObjectName(QStringLiteral("MicrophoneSetup1"));

    Au1 = MainMenu1->addMenu(QStringLiteral("AutoDrive"));
    Au1->setObjectName(QStringLiteral("Au1"));
    AutoDrive1 = Au1->addAction(QStringLiteral("AutoDrive"));
    AutoDrive1->setObjectName(QStringLiteral("AutoDrive1"));

    connect(OpenFile1, &QAction::triggered, this, Guarded([this] { OpenFile1Click(OpenFile1); }));
    connect(MIDISetup2, &QAction::triggered, this, Guarded([this] { MIDISetup2Click(MIDISetup2); }));
    connect(MicrophoneSetup1, &QAction::triggered, this,
            Guarded([this] { MicrophoneSetup1Click(MicrophoneSetup1); }));
    connect(AutoDrive1, &QAction::triggered, this, Guarded([this] { AutoDrive1Click(AutoDrive1); }));
}

void TForm1::BuildNoteTable()
{
    vocarine::BuildNoteTable(State.NoteTable);
}

void TForm1::CreateNoteLabels()
{
    // The labels lie on the window, not in the panel, and stack above it.
    QFont noteFont = font();
    noteFont.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    noteFont.setPixelSize(NoteLabelPixels);
    for (int j = 0; j < vocarine::MaxNotes; ++j) {
        auto* label = new QLabel(centralWidget());
        label->setObjectName(QStringLiteral("NoteLabel%1").arg(j));
        label->move(Shape2->x() + NoteColumnWidth * j + NoteColumnIndent, NoteLabelTop);
        label->hide();
        label->setFont(noteFont);
        label->resize(NoteLabelWidth, label->fontMetrics().height());
        label->setAlignment(Qt::AlignCenter);
        QPalette fill = label->palette();
        fill.setColor(QPalette::Window, Shape2->Brush());
        label->setPalette(fill);
        label->setAutoFillBackground(true);
        label->raise();
        NoteLabels[j] = label;
    }
}

void TForm1::ShowCell(int32_t cell)
{
    // A place past the book may hold a cell of an earlier book: it is not shown.
    int n = 0;
    if (vocarine::IsInBook(State, cell))
        n = std::clamp<int>(State.Cells[cell].count, 0, vocarine::MaxNotes);
    // Read afresh: the panel's place decides where the pitches stand.
    const int bottom = Shape2->y() + Shape2->height();
    for (int j = 0; j < n; ++j) {
        const vocarine::NoteRef& note = State.Cells[cell].notes[j];
        QLabel* label = NoteLabels[j];
        if (note.degree < 0 || note.degree > vocarine::MaxDegree || note.accidental < 0 ||
            note.accidental > vocarine::MaxAccidental) {
            label->hide();  // not a note of the table: its column stays empty
            continue;
        }
        const vocarine::NoteEntry& entry = State.NoteTable[vocarine::NoteIndex(note.degree, note.accidental)];
        label->setText(QString::fromStdString(entry.syllable));
        label->adjustSize();
        label->move(label->x(), bottom - SemitoneHeight * entry.semitone);
        label->show();
    }
    for (int j = n; j < vocarine::MaxNotes; ++j)
        NoteLabels[j]->hide();
    shownCell_ = cell;
    PaintGrade();

    // AutoDrive listens in Singing Mode from the moment the cell is shown, and
    // in Dictation Mode until it is shown.
    if (inAutoDriveTick_ && AutoForm) {
        if (AutoForm->IsSingingMode())
            StartTake(true);
        else if (take_ && takeByAutoDrive_)
            EndTake(TakeOutcome::Graded);
    }
}

void TForm1::HideCell()
{
    for (QLabel* label : NoteLabels)
        label->hide();
    for (QLabel* cents : CentsLabels)
        if (cents)
            cents->hide();
    shownCell_.reset();
    // A new AutoDrive cycle hides the cell before it moves on: what was being
    // listened to is no longer the cell.
    if (inAutoDriveTick_ && take_ && takeByAutoDrive_)
        EndTake(TakeOutcome::Cancelled);
}

void TForm1::ShowCellCounter()
{
    Label1->setText(QString::fromStdString(vocarine::CellCounterText(State)));
    Label1->adjustSize();
}

void TForm1::PlayCurrentCell()
{
    // Singing Mode listens until the Play step; Dictation Mode from the end
    // of the playback on.
    const bool autoDrive = inAutoDriveTick_ && AutoForm;
    if (autoDrive && take_ && takeByAutoDrive_)
        EndTake(TakeOutcome::Graded);
    PlayButtonClick(this);
    if (autoDrive && !AutoForm->IsSingingMode())
        StartTake(true);
}

void TForm1::RepaintNow()
{
    repaint();
}

int32_t TForm1::PickRandom(int32_t n)
{
    return vocarine::PickRandom(n);
}

QString TForm1::LoadCellFile(const QString& fileName)
{
    const std::string path = QFile::encodeName(fileName).toStdString();
    if (const auto error = vocarine::LoadCellFile(State, path))
        return QString::fromStdString(error->Text());
    ShowCellCounter();
    return {};
}

void TForm1::LoadStartupCells()
{
    // A start-up file in the working folder is the user's own: when it is
    // refused, that is reported, and the installed copy does not stand in for it.
    if (QFileInfo::exists(StartupCellFile)) {
        const QString error = LoadCellFile(StartupCellFile);
        SetStatus(cellsStatus_, error.isEmpty() ? QString() : QStringLiteral("No cells loaded: ") + WithFullStop(error));
        return;
    }

    QStringList looked{QDir::toNativeSeparators(QDir::currentPath())};
    QString refused;
    for (const QString& folder : StartupFallbackFolders()) {
        const QString path = QDir(folder).filePath(StartupCellFile);
        looked << QDir::toNativeSeparators(QDir::cleanPath(folder));
        if (!QFileInfo::exists(path))
            continue;
        const QString error = LoadCellFile(path);
        if (error.isEmpty()) {
            SetStatus(cellsStatus_, {});
            return;
        }
        if (refused.isEmpty())
            refused = error;
    }
    if (!refused.isEmpty()) {
        SetStatus(cellsStatus_, QStringLiteral("No cells loaded: ") + WithFullStop(refused));
        return;
    }
    SetStatus(cellsStatus_, QStringLiteral("No cells loaded: %1 was not found in %2. Use File > Open to load a cell file.")
                                .arg(StartupCellFile, looked.join(QStringLiteral(", "))));
}

void TForm1::SetStartupFallbackForTesting(std::optional<QStringList> folders)
{
    FallbackOverride() = std::move(folders);
}

QStringList TForm1::StartupFallbackFolders()
{
    if (FallbackOverride())
        return *FallbackOverride();
    QStringList folders{QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vocarine"))};
    const QString installed = QDir::cleanPath(QStringLiteral(VOCARINE_INSTALL_DATADIR));
    if (!folders.contains(installed))
        folders << installed;
    return folders;
}

void TForm1::ReportMidiOpenFailure()
{
    if (MaxMidiOut && MaxMidiOut->IsOpen()) {
        SetStatus(midiStatus_, {});
        return;
    }
    QString why = MaxMidiOut ? QString::fromStdString(MaxMidiOut->LastOpenError()) : QString();
    if (why.isEmpty())
        why = QStringLiteral("the MIDI output could not be opened");
    SetStatus(midiStatus_, QStringLiteral("No sound: ") + WithFullStop(why) +
                               QStringLiteral(" Choose an output under Setup > MIDI Setup."));
}

void TForm1::StartAudioInputSearch()
{
    if (audioInputSearch_.joinable() || audioInputsSearched_)
        return;
    // Listing the inputs asks the sound servers, and opening one can take a
    // server's round trip: neither may hold up the window's first showing.
    // The port is opened where it is made, then both are handed over whole.
    struct Found {
        std::unique_ptr<vocarine::AudioInputs> inputs;
        std::unique_ptr<vocarine::AudioInputPort> port;
    };
    audioInputSearch_ = std::thread([this] {
        auto found = std::make_shared<Found>();
        vocarine::AudioDeviceList devices;
        try {
            devices = vocarine::AudioInputs::FindDevices();
        } catch (...) {
            devices.clear();  // no input is found then, and the status line says so
        }
        found->inputs = std::make_unique<vocarine::AudioInputs>(std::move(devices));
        found->port = std::make_unique<vocarine::AudioInputPort>(*found->inputs);
        if (const int device = found->inputs->DefaultDevice(); device >= 0)
            found->port->Open(device);
        QMetaObject::invokeMethod(
            this,
            [this, found] {
                AudioInputPort = std::move(found->port);
                AudioInputs = std::move(found->inputs);
                audioInputsSearched_ = true;
                AudioInputChanged();
                // An input that stops (unplugged, its server or program gone)
                // is told within a tick, also while nobody listens; what is
                // known of why can grow (a program that leaves is first a lost
                // connection, then gone), and the line follows it.
                connect(Timer1, &QTimer::timeout, this, [this] {
                    if (AudioInputPort->Failed())
                        AudioInputChanged();
                });
                emit AudioInputsFound();
            },
            Qt::QueuedConnection);
    });
}

void TForm1::AudioInputChanged()
{
    if (!audioInputsSearched_ || (AudioInputPort->IsOpen() && !AudioInputPort->Failed())) {
        SetStatus(audioStatus_, {});
        UpdateSingButton();
        return;
    }
    QString why = QString::fromStdString(AudioInputPort->LastError());
    if (why.isEmpty()) {
        if (AudioInputs->DeviceCount() == 0)
            why = QStringLiteral("no audio input was found");
        else if (AudioInputs->DefaultDevice() < 0 && AudioInputPort->OpenDevice() < 0)
            why = QStringLiteral("the desktop has no default input");
        else
            why = QStringLiteral("none is chosen");
    }
    const QString text = QStringLiteral("No microphone: ") + WithFullStop(why) +
                         QStringLiteral(" Choose one under Setup > Microphone Setup.");
    if (text != audioStatus_)
        SetStatus(audioStatus_, text);
    UpdateSingButton();
}

void TForm1::SetStatus(QString& part, const QString& text)
{
    part = text;
    QStringList parts;
    for (const QString* p : {&cellsStatus_, &midiStatus_, &audioStatus_, &listenStatus_})
        if (!p->isEmpty())
            parts << *p;
    StatusLine->setText(parts.join(QLatin1Char('\n')));
    StatusLine->setToolTip(PlainToolTip(StatusLine->text()));
    statusBar()->setVisible(!parts.isEmpty());
    // The status line takes its room from the window, never from the controls.
    if (isVisible())
        resize(size().expandedTo(SmallestWholeSize()));
}

QString TForm1::StatusText() const
{
    return StatusLine->text();
}

void TForm1::DisplayButtonClick(QObject*)
{
    ShowCell(State.CurrentCell);
}

void TForm1::PlayButtonClick(QObject*)
{
    // The window stays alive while the cell plays, but what the user does
    // meanwhile waits until it has played, and ticks that fall due meanwhile
    // are not made up. Listening hears silence meanwhile.
    BeginSounding();
    {
        LiveWait::Playing playing(*liveWait_);
        PlayCellNotes(*MaxMidiOut, State, [this] { return 2000 - TrackBar1->value(); },
                      [this](vocarine::SteadyClock::time_point deadline) { return liveWait_->WaitUntil(deadline); });
    }
    EndSounding();
}

void TForm1::TonicButtonClick(QObject*)
{
    BeginSounding();
    PlayTonic(*MaxMidiOut, State.KeyOffset);
    EndSounding();
}

void TForm1::NewKeyButtonClick(QObject*)
{
    if (TonicForm)
        TonicForm->exec();
}

void TForm1::KeepButtonClick(QObject*)
{
    EndTake(TakeOutcome::Cancelled);
    ClearGrade();
    vocarine::KeepCell(State, *this);
}

void TForm1::DiscardButtonClick(QObject*)
{
    EndTake(TakeOutcome::Cancelled);
    ClearGrade();
    vocarine::MoveOn(State, *this);
}

void TForm1::OpenFile1Click(QObject*)
{
    OpenDialog1->InitialDir = QDir::currentPath();
    OpenDialog1->Filter = QStringLiteral("*.txt");
    // Cancel changes nothing: the file chosen last time is not read again,
    // which would throw away the done flags and the pool.
    if (!OpenDialog1->Execute() || OpenDialog1->FileName.isEmpty())
        return;
    const QString error = LoadCellFile(OpenDialog1->FileName);
    if (!error.isEmpty()) {
        ShowWarningBox(this, QStringLiteral("Open"),
                       QStringLiteral("The cells were not loaded; the ones in use stay as they were.\n\n") +
                           WithFullStop(error));
        return;
    }
    // The cells graded may have changed under the grade.
    EndTake(TakeOutcome::Cancelled);
    ClearGrade();
    SetStatus(cellsStatus_, {});
}

void TForm1::MIDISetup2Click(QObject*)
{
    if (!Form2)
        return;
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
}

void TForm1::MicrophoneSetup1Click(QObject*)
{
    if (!MicForm)
        return;
    MicForm->show();
    MicForm->raise();
    MicForm->activateWindow();
}

void TForm1::AutoDrive1Click(QObject*)
{
    if (!AutoForm)
        return;
    // The counter's place inside this window is used as a screen position.
    AutoForm->move(Label1->x() + Label1->width() + 20, frameGeometry().top());
    AutoForm->show();
    AutoForm->raise();
    AutoForm->activateWindow();
}

void TForm1::Timer1Timer(QObject*)
{
    if (!AutoForm)
        return;
    inAutoDriveTick_ = true;
    try {
        vocarine::AutoDriveTick(State, *AutoForm, *this);
    } catch (...) {
        inAutoDriveTick_ = false;
        throw;
    }
    inAutoDriveTick_ = false;
}

// ---------------------------------------------------------------- Listening

void TForm1::CreateListening()
{
    QFont centsFont = font();
    centsFont.setPixelSize(11);
    for (int j = 0; j < vocarine::MaxNotes; ++j) {
        auto* cents = new QLabel(centralWidget());
        cents->setObjectName(QStringLiteral("CentsLabel%1").arg(j));
        cents->setFont(centsFont);
        cents->hide();
        cents->raise();
        CentsLabels[j] = cents;
    }
    readBuffer_.resize(4096);

    ListenTimer = new QTimer(this);
    ListenTimer->setObjectName(QStringLiteral("ListenTimer"));
    ListenTimer->setTimerType(Qt::PreciseTimer);
    ListenTimer->setInterval(ListenIntervalMs);
    connect(ListenTimer, &QTimer::timeout, this, Guarded([this] { ListenTimerTimer(ListenTimer); }));

    // Sing is ready once the inputs are found and one is open.
    connect(this, &TForm1::AudioInputsFound, this, [this] { UpdateSingButton(); });
    UpdateSingButton();
}

bool TForm1::AnyOctave() const
{
    return !MicForm || MicForm->AnyOctave();
}

void TForm1::SetAnyOctave(bool on)
{
    if (MicForm)
        MicForm->CheckBox1->setChecked(on);
}

void TForm1::SetTakeLimitsForTesting(std::optional<vocarine::TakeLimits> limits)
{
    TakeLimitsOverride() = limits;
}

void TForm1::UpdateSingButton()
{
    if (take_) {
        SingButton->setText(QStringLiteral("Stop"));
        SingButton->setEnabled(true);
        SingButton->setToolTip(QStringLiteral("Stop listening and grade what was sung"));
        return;
    }
    SingButton->setText(QStringLiteral("Sing"));
    const bool ready = AudioInputPort && AudioInputPort->IsOpen() && !AudioInputPort->Failed();
    SingButton->setEnabled(ready);
    QString why = audioStatus_;
    if (why.isEmpty())
        why = QStringLiteral("The audio inputs are still being looked for.");
    SingButton->setToolTip(ready ? QStringLiteral("Sing the cell; the trainer listens and grades every note") : why);
}

void TForm1::KeyChanged()
{
    EndTake(TakeOutcome::Cancelled);
    ClearGrade();
}

void TForm1::SingButtonClick(QObject*)
{
    if (take_)
        EndTake(TakeOutcome::Graded);
    else
        StartTake(false);
}

void TForm1::StartTake(bool byAutoDrive)
{
    EndTake(TakeOutcome::Cancelled);
    if (!AudioInputPort || !AudioInputPort->IsOpen() || AudioInputPort->Failed()) {
        AudioInputChanged();
        return;
    }
    ClearGrade();
    SetStatus(listenStatus_, {});
    try {
        tracker_ = std::make_unique<vocarine::PitchTracker>(AudioInputPort->SampleRate());
    } catch (const std::exception& error) {
        tracker_.reset();
        SetStatus(listenStatus_, QStringLiteral("Cannot listen: ") + WithFullStop(QString::fromUtf8(error.what())));
        return;
    }
    const vocarine::TakeLimits limits = TakeLimitsOverride().value_or(vocarine::TakeLimits{});
    take_.emplace(!byAutoDrive, limits);
    takeByAutoDrive_ = byAutoDrive;
    takeClipped_ = false;
    takeCell_ = State.CurrentCell;
    takeKey_ = State.KeyOffset;
    takeFoldTo_.reset();
    if (AnyOctave() && takeCell_ >= 0 && takeCell_ < vocarine::MaxCells)
        takeFoldTo_ = vocarine::CellMiddleSemitone(State.Cells[takeCell_], State.NoteTable);
    // What arrived before the take is not part of it.
    AudioInputPort->Discard();
    takeClock_.start();
    PitchTrace->Clear();
    PitchTrace->raise();
    for (QLabel* label : NoteLabels)
        label->raise();
    ListenTimer->start();
    UpdateSingButton();
}

// Input is taken only while the program itself is silent: from the first
// note it puts out until its last note and the tonic have rung for a while.
void TForm1::BeginSounding()
{
    // What was sung up to now is the singer's own.
    if (take_)
        ReadInput();
    sounding_ = true;
}

void TForm1::EndSounding()
{
    // What arrived while the window was held by the playback is the program's.
    sounding_ = false;
    muteUntilMs_ = clock_.elapsed() + RingingTailMs;
    if (take_)
        ReadInput();
}

bool TForm1::Muted() const
{
    return sounding_ || (muteUntilMs_ >= 0 && clock_.elapsed() < muteUntilMs_);
}

// Everything that arrived goes to the pitch tracker; while the program is
// sounding it goes in as silence, so the take's time keeps step with the
// clock and a note before the playback never joins one after it.
void TForm1::ReadInput()
{
    if (!take_ || !tracker_ || !AudioInputPort)
        return;
    const bool muted = Muted();
    newFrames_.clear();
    for (;;) {
        const std::size_t n = AudioInputPort->Read(readBuffer_.data(), readBuffer_.size());
        if (n == 0)
            break;
        if (muted) {
            std::fill_n(readBuffer_.begin(), n, 0.0f);
        } else if (!takeClipped_) {
            for (std::size_t i = 0; i < n; ++i) {
                if (std::abs(readBuffer_[i]) >= ClipLevel) {
                    takeClipped_ = true;
                    SetStatus(listenStatus_, QStringLiteral("Too loud: move back from the microphone"));
                    break;
                }
            }
        }
        tracker_->Feed(readBuffer_.data(), n, newFrames_);
    }
    if (newFrames_.empty())
        return;
    take_->Add(newFrames_);
    for (const vocarine::PitchFrame& frame : newFrames_) {
        std::optional<double> semitone;
        if (frame.midi > 0.0) {
            semitone = vocarine::StaffSemitone(frame.midi, takeKey_);
            if (takeFoldTo_)
                semitone = vocarine::FoldToOctaveOf(*semitone, *takeFoldTo_);
        }
        PitchTrace->Add(frame.time, semitone);
    }
}

void TForm1::ListenTimerTimer(QObject*)
{
    if (!take_)
        return;
    if (!AudioInputPort || !AudioInputPort->IsOpen() || AudioInputPort->Failed()) {
        EndTake(TakeOutcome::DeviceFailed);
        return;
    }
    // AutoDrive stopped in the middle of its listening: grade what was sung.
    if (takeByAutoDrive_ && !(AutoForm && AutoForm->IsRunning())) {
        EndTake(TakeOutcome::Graded);
        return;
    }
    ReadInput();
    if (take_->Due(takeClock_.elapsed() / 1000.0) != vocarine::TakeEnd::Running)
        EndTake(TakeOutcome::Graded);
}

void TForm1::EndTake(TakeOutcome outcome)
{
    if (!take_)
        return;
    ListenTimer->stop();
    if (outcome == TakeOutcome::Graded)
        ReadInput();  // the last hops that arrived
    vocarine::Take take = std::move(*take_);
    take_.reset();
    tracker_.reset();
    UpdateSingButton();

    switch (outcome) {
    case TakeOutcome::Cancelled:
        PitchTrace->Clear();
        return;
    case TakeOutcome::DeviceFailed: {
        QString why = AudioInputPort ? QString::fromStdString(AudioInputPort->LastError()) : QString();
        if (why.isEmpty())
            why = QStringLiteral("the input stopped delivering sound");
        SetStatus(listenStatus_, QStringLiteral("Listening stopped: ") + WithFullStop(why));
        AudioInputChanged();
        return;
    }
    case TakeOutcome::Graded:
        break;
    }
    if (!take.HeardANote()) {
        PitchTrace->Clear();
        // Stop before singing is not a take; a take that ran its time without a note is.
        if (takeByAutoDrive_ || take.Due(takeClock_.elapsed() / 1000.0) == vocarine::TakeEnd::TimeUp)
            SetStatus(listenStatus_, QStringLiteral("Nothing heard: check the input in Setup > Microphone Setup"));
        return;
    }
    if (takeCell_ < 0 || takeCell_ >= vocarine::MaxCells)
        return;
    ShowGrade(takeCell_, vocarine::GradeCell(take.Track(), State.Cells[takeCell_], State.NoteTable, takeKey_,
                                              AnyOctave()));
}

void TForm1::ShowGrade(int cell, vocarine::CellGrade grade)
{
    gradedCell_ = cell;
    grade_ = std::move(grade);
    // The line is shown at once; the colours whenever the cell is.
    // One line: a summary longer than the panel is cut short, and whole in its tooltip.
    const QString summary = QString::fromStdString(grade_.summary);
    GradeLine->setText(GradeLine->fontMetrics().elidedText(summary, Qt::ElideRight, GradeLine->width()));
    GradeLine->setToolTip(summary);
    GradeLine->show();
    PaintGrade();
}

void TForm1::ClearGrade()
{
    gradedCell_.reset();
    grade_ = {};
    GradeLine->clear();
    GradeLine->setToolTip({});
    GradeLine->hide();
    PitchTrace->Clear();
    PaintGrade();
}

const vocarine::CellGrade* TForm1::ShownGrade() const
{
    return gradedCell_ ? &grade_ : nullptr;
}

std::optional<vocarine::Verdict> TForm1::LabelVerdict(int note) const
{
    if (note < 0 || note >= vocarine::MaxNotes || NoteLabels[note]->isHidden())
        return std::nullopt;
    const QVariant verdict = NoteLabels[note]->property("verdict");
    if (!verdict.isValid())
        return std::nullopt;
    return static_cast<vocarine::Verdict>(verdict.toInt());
}

// Colours that tell the verdicts apart also for the colour-blind (they differ
// in lightness as much as in hue), with text that reads on each: bluish green,
// blue and orange from the Okabe-Ito palette, darkened for white text, and a
// vermilion for a wrong note; a missed note keeps the panel's grey.
QColor TForm1::VerdictColour(vocarine::Verdict verdict)
{
    switch (verdict) {
    case vocarine::Verdict::InTune:
        return {0, 122, 94};
    case vocarine::Verdict::Flat:
        return {35, 85, 190};
    case vocarine::Verdict::Sharp:
        return {230, 159, 0};
    case vocarine::Verdict::Wrong:
        return {192, 64, 0};
    case vocarine::Verdict::Missed:
        break;
    }
    return ActiveBorder;
}

// The labels of the shown cell take the colours of their verdicts, flat and
// sharp notes with their cents small beside them; any other cell is plain.
void TForm1::PaintGrade()
{
    const bool graded = gradedCell_ && shownCell_ && *gradedCell_ == *shownCell_;
    for (int j = 0; j < vocarine::MaxNotes; ++j) {
        QLabel* label = NoteLabels[j];
        QLabel* cents = CentsLabels[j];
        if (!label || !cents)
            continue;
        QPalette palette = label->palette();
        QFont labelFont = label->font();
        const bool hasVerdict = graded && j < static_cast<int>(grade_.notes.size()) && !label->isHidden();
        if (!hasVerdict) {
            palette.setColor(QPalette::Window, Shape2->Brush());
            palette.setColor(QPalette::WindowText, this->palette().color(QPalette::WindowText));
            labelFont.setStrikeOut(false);
            label->setPalette(palette);
            label->setFont(labelFont);
            label->setProperty("verdict", QVariant());
            cents->hide();
            continue;
        }
        const vocarine::NoteGrade& note = grade_.notes[j];
        palette.setColor(QPalette::Window, VerdictColour(note.verdict));
        QColor text = Qt::white;
        if (note.verdict == vocarine::Verdict::Sharp)
            text = Qt::black;
        if (note.verdict == vocarine::Verdict::Missed)
            text = QColor(80, 80, 80);
        palette.setColor(QPalette::WindowText, text);
        // A missed note is struck out, so it reads apart without its colour.
        labelFont.setStrikeOut(note.verdict == vocarine::Verdict::Missed);
        label->setPalette(palette);
        label->setFont(labelFont);
        label->setProperty("verdict", static_cast<int>(note.verdict));

        const bool showCents = (note.verdict == vocarine::Verdict::Flat || note.verdict == vocarine::Verdict::Sharp) &&
                               note.cents;
        if (!showCents) {
            cents->hide();
            continue;
        }
        const long rounded = std::lround(*note.cents);
        cents->setText(rounded > 0 ? QStringLiteral("+%1").arg(rounded) : QString::number(rounded));
        cents->adjustSize();
        cents->move(label->x() + label->width() + 1, label->y() + label->height() - cents->height());
        cents->show();
        cents->raise();
    }
}
