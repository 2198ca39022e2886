#include "ui/MicUnit4.h"

#include <QCheckBox>
#include <QEvent>
#include <QHideEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "audio/AudioInput.h"
#include "ui/Design.h"
#include "ui/VocarineUnit1.h"

TMicForm* MicForm = nullptr;

namespace {

constexpr int OuterWidth = 298;
constexpr int OuterHeight = 310;
constexpr int ItemHeight = 16;

// The meter spans 60 dB below full scale; it falls back slowly, so a short
// sound stays visible.
constexpr double MeterFloorDb = -60.0;
constexpr int MeterFallPerTick = 6;
constexpr int MeterIntervalMs = 40;

}  // namespace

TMicForm::TMicForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("MicForm"));
    setWindowTitle(QStringLiteral("Microphone Setup"));
    setFont(DesignFont(DesignPixels(8)));
    setModal(false);
    // Beside the MIDI Setup window's place, so both can be seen at once.
    move(565, 405);
    resize(OuterWidth, OuterHeight);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(43, 27, 207, 146);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setSortingEnabled(false);
    ListBox1->setUniformItemSizes(true);
    ListBox1->viewport()->installEventFilter(this);

    LevelMeter1 = new QProgressBar(this);
    LevelMeter1->setObjectName(QStringLiteral("LevelMeter1"));
    LevelMeter1->setGeometry(43, 183, 207, 14);
    LevelMeter1->setRange(0, 100);
    LevelMeter1->setValue(0);
    LevelMeter1->setTextVisible(false);
    LevelMeter1->setToolTip(QStringLiteral("Level of the sound that arrives"));

    CheckBox1 = new QCheckBox(QStringLiteral("Any octave"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(43, 207, 207, 20);
    CheckBox1->setChecked(true);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(109, 239, 75, 25);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(MeterIntervalMs);

    setTabOrder(ListBox1, CheckBox1);
    setTabOrder(CheckBox1, Button1);

    FillDeviceList();
    if (Form1)
        connect(Form1, &TForm1::AudioInputsFound, this, &TMicForm::FillDeviceList);

    // A selection by mouse or keyboard switches the input; so does a click on
    // the entry already selected, which changes no selection.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        if (showingInUse_)
            return;
        pressChangedSelection_ = true;
        ListBox1Click(ListBox1);
    });
    connect(ListBox1, &QListWidget::itemClicked, this, [this] {
        if (!pressChangedSelection_)
            ListBox1Click(ListBox1);
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(Timer1); });
}

bool TMicForm::AnyOctave() const
{
    return CheckBox1->isChecked();
}

void TMicForm::FillDeviceList()
{
    showingInUse_ = true;
    ListBox1->clear();
    auto* none = new QListWidgetItem(QStringLiteral("None"), ListBox1);
    none->setSizeHint(QSize(0, ItemHeight));
    DeviceCount = 0;
    if (Form1 && Form1->AudioInputs) {
        const vocarine::AudioInputs& inputs = *Form1->AudioInputs;
        for (int index = 0; index < inputs.DeviceCount(); ++index) {
            auto* item = new QListWidgetItem(QString::fromStdString(inputs.Device(index)->Name()), ListBox1);
            item->setSizeHint(QSize(0, ItemHeight));
            ++DeviceCount;
        }
    }
    showingInUse_ = false;
    ShowInputInUse();
}

void TMicForm::ShowInputInUse()
{
    if (!Form1 || !Form1->AudioInputPort)
        return;
    const vocarine::AudioInputPort& port = *Form1->AudioInputPort;
    // Entry 0 is "None": the entry of input i is i + 1.
    const int row = port.IsOpen() ? port.OpenDevice() + 1 : 0;
    showingInUse_ = true;
    ListBox1->setCurrentRow(row);
    // A start-up open that failed leaves no input in use: nothing is marked.
    if (!port.IsOpen() && !port.LastError().empty())
        ListBox1->clearSelection();
    showingInUse_ = false;
}

void TMicForm::ListBox1Click(QObject*)
{
    if (!Form1 || !Form1->AudioInputPort)
        return;
    vocarine::AudioInputPort& port = *Form1->AudioInputPort;
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem* item = selected.front();
    const int row = ListBox1->row(item);
    if (row == 0) {
        port.Close();
        Form1->AudioInputChanged();
        return;
    }
    if (row > DeviceCount)
        return;
    const bool opened = port.Open(row - 1);
    failureTold_ = false;
    // The entry that could not be opened says why when the mouse rests on it.
    item->setToolTip(opened ? QString() : QString::fromStdString(port.LastError()));
    // The main window's status line tells of a failed open, and forgets it
    // once an input opens.
    Form1->AudioInputChanged();
}

void TMicForm::Button1Click(QObject*)
{
    hide();
}

void TMicForm::Timer1Timer(QObject*)
{
    float peak = 0.0f;
    if (Form1 && Form1->AudioInputPort) {
        vocarine::AudioInputPort& port = *Form1->AudioInputPort;
        peak = port.TakePeak();
        if (port.Failed() && !failureTold_) {
            failureTold_ = true;
            Form1->AudioInputChanged();
        }
    }
    int level = 0;
    if (peak > 0.0f) {
        const double db = 20.0 * std::log10(std::min(peak, 1.0f));
        level = static_cast<int>(std::lround(100.0 * (db - MeterFloorDb) / -MeterFloorDb));
    }
    level = std::clamp(level, 0, 100);
    LevelMeter1->setValue(std::max(level, LevelMeter1->value() - MeterFallPerTick));
}

void TMicForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    resize(ClientSizeFor(this, {OuterWidth, OuterHeight}));
    if (event->spontaneous())
        return;
    ShowInputInUse();
    // What arrived while the window was hidden is not shown as arriving now.
    if (Form1 && Form1->AudioInputPort)
        Form1->AudioInputPort->TakePeak();
    LevelMeter1->setValue(0);
    Timer1->start();
}

void TMicForm::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        Timer1->stop();
}

bool TMicForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonPress)
        pressChangedSelection_ = false;
    return QDialog::eventFilter(watched, event);
}
