#include "ui/AutoUnit3.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <algorithm>

#include "ui/Design.h"
#include "ui/RadioGroup.h"
#include "ui/UpDown.h"
#include "ui/VocarineUnit1.h"

TAutoForm* AutoForm = nullptr;

namespace {

constexpr int WaitMin = 1;
constexpr int WaitMax = 30;
constexpr int RepetitionsMax = 100;
constexpr int StartingValue = 5;

}  // namespace

TAutoForm::TAutoForm(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setWindowTitle(QStringLiteral("AutoDrive"));
    setFont(DesignFont(DesignPixels(8)));
    resize(502, 202);

    RadioGroup1 = new TRadioGroup({QStringLiteral("Singing Mode"), QStringLiteral("Dictation Mode")}, this);
    RadioGroup1->setObjectName("RadioGroup1");
    RadioGroup1->setGeometry(17, 22, 144, 78);
    RadioGroup1->SetItemIndex(0);

    // A label sizes itself to its text, its left edge staying put.
    const auto makeLabel = [this](const char* name, const QString& text, int left, int top, int points,
                                  bool centred) {
        auto* label = new QLabel(text, this);
        label->setObjectName(name);
        label->setFont(DesignFont(DesignPixels(points)));
        if (centred)
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->move(left, top);
        label->adjustSize();
        return label;
    };
    // A static text keeps its designed box, widened only where the font needs more room.
    const auto makeStatic = [this](const char* name, const QString& text, int left, int top, int width,
                                   int height) {
        auto* text_ = new QLabel(text, this);
        text_->setObjectName(name);
        const QSize need = text_->sizeHint();
        text_->setGeometry(left, top, std::max(width, need.width()), std::max(height, need.height()));
        return text_;
    };
    const auto makeUpDown = [this](const char* name, int left, int top, int max) {
        auto* upDown = new TUpDown(this);
        upDown->setObjectName(name);
        upDown->setGeometry(left, top, 16, 24);
        upDown->SetRange(WaitMin, max);
        upDown->SetPosition(StartingValue);
        return upDown;
    };
    const QString five = QString::number(StartingValue);

    Label1 = makeLabel("Label1", QStringLiteral("Display"), 183, 56, 10, true);
    StaticText1 = makeStatic("StaticText1", QStringLiteral("wait"), 264, 32, 27, 20);
    Label2 = makeLabel("Label2", five, 262, 54, 12, false);
    UpDown1 = makeUpDown("UpDown1", 280, 55, WaitMax);
    StaticText2 = makeStatic("StaticText2", QStringLiteral("seconds"), 254, 83, 56, 20);
    Label3 = makeLabel("Label3", QStringLiteral("Play"), 336, 58, 10, true);
    StaticText3 = makeStatic("StaticText3", QStringLiteral("wait"), 406, 33, 27, 20);
    Label4 = makeLabel("Label4", five, 404, 55, 12, false);
    UpDown2 = makeUpDown("UpDown2", 422, 56, WaitMax);
    StaticText4 = makeStatic("StaticText4", QStringLiteral("seconds"), 396, 84, 56, 20);
    StaticText5 = makeStatic("StaticText5", QStringLiteral("Do each cell"), 226, 127, 79, 20);
    Label5 = makeLabel("Label5", five, 311, 122, 12, false);
    UpDown3 = makeUpDown("UpDown3", 329, 123, RepetitionsMax);
    StaticText6 = makeStatic("StaticText6", QStringLiteral("times"), 356, 126, 36, 20);

    Button1 = new QPushButton(QStringLiteral("START"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(28, 117, 125, 35);

    connect(UpDown1, &TUpDown::Click, this, [this] { UpDown1Click(UpDown1); });
    connect(UpDown2, &TUpDown::Click, this, [this] { UpDown2Click(UpDown2); });
    connect(UpDown3, &TUpDown::Click, this, [this] { UpDown3Click(UpDown3); });
    connect(RadioGroup1, &TRadioGroup::Click, this, [this] { RadioGroup1Click(RadioGroup1); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
}

bool TAutoForm::IsRunning() const
{
    return Button1->text() == QLatin1String("STOP");
}

bool TAutoForm::IsSingingMode() const
{
    return RadioGroup1->ItemIndex() == 0;
}

int32_t TAutoForm::FirstWait() const
{
    return UpDown1->Position();
}

int32_t TAutoForm::SecondWait() const
{
    return UpDown2->Position();
}

int32_t TAutoForm::Repetitions() const
{
    return UpDown3->Position();
}

namespace {

void WriteNumber(QLabel* label, int32_t value)
{
    label->setText(QString::number(value));
    label->adjustSize();
}

}  // namespace

void TAutoForm::WriteFirstWait(int32_t seconds)
{
    WriteNumber(Label2, seconds);
}

void TAutoForm::WriteSecondWait(int32_t seconds)
{
    WriteNumber(Label4, seconds);
}

void TAutoForm::UpDown1Click(QObject*)
{
    WriteNumber(Label2, UpDown1->Position());
}

void TAutoForm::UpDown2Click(QObject*)
{
    WriteNumber(Label4, UpDown2->Position());
}

void TAutoForm::UpDown3Click(QObject*)
{
    WriteNumber(Label5, UpDown3->Position());
}

void TAutoForm::RadioGroup1Click(QObject*)
{
    // The step names follow the mode; the cycle itself picks the new mode up at its next tick.
    const bool singing = IsSingingMode();
    Label1->setText(singing ? QStringLiteral("Display") : QStringLiteral("Play"));
    Label3->setText(singing ? QStringLiteral("Play") : QStringLiteral("Display"));
    Label1->adjustSize();
    Label3->adjustSize();
}

void TAutoForm::Button1Click(QObject*)
{
    // The caption is the running state. START makes the first step of the
    // mode's cycle due; STOP freezes both countdowns where they stand.
    if (Button1->text() != QLatin1String("START")) {
        Button1->setText(QStringLiteral("START"));
        return;
    }
    Button1->setText(QStringLiteral("STOP"));
    if (!Form1)
        return;
    if (IsSingingMode())
        Form1->State.DisplayCountdown = -1;
    else
        Form1->State.PlayCountdown = -1;
}

void TAutoForm::FormShow(QObject*)
{
    // Outer sizes, frame included.
    resize(ClientSizeFor(this, {UpDown2->x() + 80, Button1->y() + Button1->height() + 50}));
}

void TAutoForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Spontaneous show events come from the window system (a restore from the
    // task bar); only a hidden-to-shown change by the program counts.
    if (!event->spontaneous())
        FormShow(this);
}
