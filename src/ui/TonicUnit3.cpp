#include "ui/TonicUnit3.h"

#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "core/Keys.h"
#include "ui/Design.h"
#include "ui/VocarineUnit1.h"

TTonicForm* TonicForm = nullptr;

namespace {

// Only a pick from the list sets the key. Enter in the text field would
// otherwise make the combo box look the typed text up and report it as a pick
// (or press a button of the dialog), so the field swallows it.
class SwallowEnter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                event->accept();
                return event->type() == QEvent::KeyPress;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

TTonicForm::TTonicForm(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("New Tonic"));
    setFont(DesignFont(DesignPixels(8)));
    // The designed place and size are those of the outer frame; the size is
    // fitted again at every showing.
    move(461, 504);
    resize(156, 188);

    StaticText1 = new QLabel(QStringLiteral("New"), this);
    StaticText1->setObjectName("StaticText1");
    StaticText1->setGeometry(17, 20, 31, 20);
    StaticText2 = new QLabel(QStringLiteral("Key:"), this);
    StaticText2->setObjectName("StaticText2");
    StaticText2->setGeometry(17, 39, 30, 20);
    for (QLabel* text : {StaticText1, StaticText2})
        text->resize(text->size().expandedTo(text->sizeHint()));

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(62, 27, 57, 24);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCompleter(nullptr);
    for (int item = 0; item < vocarine::KeyItemCount; ++item)
        ComboBox1->addItem(QString::fromLatin1(vocarine::KeyItemText(item)));
    ComboBox1->lineEdit()->installEventFilter(new SwallowEnter(ComboBox1));

    Button1 = new QPushButton(QStringLiteral("Play New Tonic"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(16, 72, 114, 30);
    Button2 = new QPushButton(QStringLiteral("Close"), this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(47, 115, 50, 25);

    // activated: the user picked an item from the list, the one already shown included.
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Select(ComboBox1); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(Button2); });
}

void TTonicForm::FormShow(QObject*)
{
    // Fit the window to its buttons, as outer size.
    resize(ClientSizeFor(this, {Button1->x() + Button1->width() + 30, Button2->y() + Button2->height() + 45}));

    // Showing the dialog moves the trainer to another key at once.
    if (!Form1)
        return;
    const int32_t key = vocarine::DrawNewKey(Form1->State.KeyOffset);
    Form1->State.KeyOffset = key;
    Form1->KeyChanged();
    ComboBox1->setCurrentIndex(vocarine::KeyToItem(key));
}

void TTonicForm::ComboBox1Select(QObject*)
{
    const int item = ComboBox1->currentIndex();
    if (item < 0 || !Form1)
        return;
    Form1->State.KeyOffset = vocarine::ItemToKey(item);
    Form1->KeyChanged();
}

void TTonicForm::Button1Click(QObject*)
{
    if (Form1)
        Form1->TonicButtonClick(this);
}

void TTonicForm::Button2Click(QObject*)
{
    close();
}

void TTonicForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow(this);
}
