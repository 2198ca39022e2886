#include "ui/MidiUnit2.h"

#include <QEvent>
#include <QFont>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

#include "midi/MaxMidi.h"
#include "ui/Design.h"
#include "ui/VocarineUnit1.h"

TForm2* Form2 = nullptr;

namespace {

constexpr int OuterWidth = 298;
constexpr int OuterHeight = 254;
constexpr int ItemHeight = 16;

}  // namespace

TForm2::TForm2(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("MIDI Setup"));
    setFont(DesignFont(DesignPixels(8)));
    setModal(false);
    // The designed place and size are those of the outer frame; the size is
    // fitted to the frame once it is known, at every showing.
    move(535, 435);
    resize(OuterWidth, OuterHeight);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(43, 27, 207, 146);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setSortingEnabled(false);
    ListBox1->setUniformItemSizes(true);
    ListBox1->viewport()->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(109, 183, 75, 25);

    if (Form1 && Form1->MaxMidi && Form1->MaxMidi->Listed())
        ListDevices();

    // A selection by mouse or keyboard switches the device; so does a click on
    // the entry already selected, which changes no selection.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        pressChangedSelection_ = true;
        ListBox1Click(ListBox1);
    });
    connect(ListBox1, &QListWidget::itemClicked, this, [this] {
        if (!pressChangedSelection_)
            ListBox1Click(ListBox1);
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
}

void TForm2::ListDevices()
{
    if (listed_)
        return;
    listed_ = true;
    FillDeviceList();
}

void TForm2::FillDeviceList()
{
    DeviceCount = 0;
    if (!Form1 || !Form1->MaxMidi)
        return;
    char buffer[32];
    for (int index = 0; Form1->MaxMidi->GetMidiOutDescription(index, buffer, sizeof buffer) != 0; ++index) {
        auto* item = new QListWidgetItem(QString::fromUtf8(buffer), ListBox1);
        item->setSizeHint(QSize(0, ItemHeight));
        ++DeviceCount;
    }
}

void TForm2::ListBox1Click(QObject*)
{
    if (!Form1 || !Form1->MaxMidiOut)
        return;
    vocarine::TMaxMidiOut& out = *Form1->MaxMidiOut;
    for (int i = 0; i < DeviceCount; ++i) {
        QListWidgetItem* item = ListBox1->item(i);
        if (item == nullptr || !item->isSelected())
            continue;
        if (out.IsOpen()) {
            out.ResetMidiOut();
            out.CloseMidiOut();
        }
        const bool opened = out.OpenMidiOut(static_cast<uint16_t>(i), vocarine::OpenFlags) > 32;
        // The entry that could not be opened says why when the mouse rests on it.
        item->setToolTip(opened ? QString() : PlainToolTip(QString::fromStdString(out.LastOpenError())));
        // The main window's status line tells of a failed open, and forgets it
        // once a device opens.
        Form1->ReportMidiOpenFailure();
    }
}

void TForm2::Button1Click(QObject*)
{
    hide();
}

void TForm2::showEvent(QShowEvent* event)
{
    ListDevices();
    QDialog::showEvent(event);
    resize(ClientSizeFor(this, {OuterWidth, OuterHeight}));
}

bool TForm2::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonPress)
        pressChangedSelection_ = false;
    return QDialog::eventFilter(watched, event);
}
