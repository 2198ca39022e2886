// The New Tonic dialog: a new key at every showing, picks from the list, the
// tonic of the new key, and the AutoDrive going on behind the modal dialog.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <deque>
#include <functional>

#include "WindowsTest.h"
#include "core/Keys.h"
#include "core/Random.h"
#include "ui/AutoUnit3.h"
#include "ui/TonicUnit3.h"
#include "ui/VocarineUnit1.h"

namespace {

const std::string TwoCells = "2\n3  0 1  2 1  4 1\n2  7 1  4 1\n";

class TonicDialogTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        StartProgram(TwoCells);
        ASSERT_NE(Form1, nullptr);
        ASSERT_NE(TonicForm, nullptr);
    }

    // "Select New Key" as the user presses it; `whileOpen` runs inside the
    // modal showing, which then ends by "Close" (or, failing that, by force).
    void SelectNewKey(const std::function<void()>& whileOpen = {})
    {
        QTimer::singleShot(0, TonicForm, [whileOpen] {
            EXPECT_TRUE(TonicForm->isVisible());
            if (whileOpen)
                whileOpen();
            QTest::mouseClick(TonicForm->Button2, Qt::LeftButton);
            if (TonicForm->isVisible()) {
                ADD_FAILURE() << "Close did not close the dialog";
                TonicForm->done(0);
            }
        });
        Form1->NewKeyButton->click();
        EXPECT_FALSE(TonicForm->isVisible());
    }

    // Picks an item from the drop-down list with the mouse.
    static void Pick(const QString& text)
    {
        QComboBox* combo = TonicForm->ComboBox1;
        const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        ASSERT_TRUE(view->isVisible());
        const QModelIndex item = view->model()->index(index, combo->modelColumn());
        view->scrollTo(item);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
        EXPECT_FALSE(view->isVisible());
    }
};

TEST_F(TonicDialogTest, HasTheDesignedControlsAndFitsItsButtons)
{
    EXPECT_TRUE(TonicForm->isHidden());
    EXPECT_EQ(TonicForm->windowTitle(), "New Tonic");
    EXPECT_EQ(TonicForm->StaticText1->text(), "New");
    EXPECT_EQ(TonicForm->StaticText2->text(), "Key:");
    EXPECT_EQ(TonicForm->Button1->text(), "Play New Tonic");
    EXPECT_EQ(TonicForm->Button2->text(), "Close");
    EXPECT_EQ(TonicForm->ComboBox1->geometry(), QRect(62, 27, 57, 24));
    EXPECT_EQ(TonicForm->Button1->geometry(), QRect(16, 72, 114, 30));
    EXPECT_EQ(TonicForm->Button2->geometry(), QRect(47, 115, 50, 25));
    EXPECT_EQ(TonicForm->StaticText1->pos(), QPoint(17, 20));
    EXPECT_EQ(TonicForm->StaticText2->pos(), QPoint(17, 39));

    QComboBox* combo = TonicForm->ComboBox1;
    EXPECT_TRUE(combo->isEditable());
    const QStringList keys = {"B", "Bb", "A", "Ab", "G", "F#", "F", "E", "Eb", "D", "C#", "C"};
    ASSERT_EQ(combo->count(), keys.size());
    for (int i = 0; i < combo->count(); ++i)
        EXPECT_EQ(combo->itemText(i), keys[i]);

    // Outer place and size, frame included;
    // and it stays with the main window, which takes no input meanwhile.
    QRect shown;
    QWindow* owner = nullptr;
    SelectNewKey([&] {
        shown = TonicForm->frameGeometry();
        owner = TonicForm->windowHandle()->transientParent();
    });
    EXPECT_EQ(shown, QRect(461, 504, 16 + 114 + 30, 115 + 25 + 45));
    EXPECT_EQ(owner, Form1->windowHandle());
}

TEST_F(TonicDialogTest, EveryShowingMovesToAnotherKeyAndNamesIt)
{
    vocarine::SeedRandom(3);
    ASSERT_EQ(Form1->State.KeyOffset, 0);
    for (int showing = 0; showing < 40; ++showing) {
        const int32_t old = Form1->State.KeyOffset;
        int32_t whileOpen = old;
        SelectNewKey([&] { whileOpen = Form1->State.KeyOffset; });
        const int32_t key = Form1->State.KeyOffset;
        SCOPED_TRACE(::testing::Message() << "showing " << showing << ": " << old << " -> " << key);
        EXPECT_EQ(whileOpen, key);  // stored at once, before the user does anything
        EXPECT_NE(key, old);
        EXPECT_GE(key, -2);
        EXPECT_LE(key, 9);
        EXPECT_EQ(TonicForm->ComboBox1->currentText(), vocarine::KeyItemText(vocarine::KeyToItem(key)));
    }
}

TEST_F(TonicDialogTest, DrawOfTheOldKeyIsDrawnAgain)
{
    ScriptedDraws draws({2, 2, 11}, 12);  // 0 (the key at start-up), 0 again, then 9
    SelectNewKey();
    EXPECT_EQ(draws.Left(), 0u);
    EXPECT_EQ(Form1->State.KeyOffset, 9);
    EXPECT_EQ(TonicForm->ComboBox1->currentText(), "A");
}

TEST_F(TonicDialogTest, DrawnKeyIsShownByItsName)
{
    const struct {
        int32_t key;
        const char* name;
    } table[] = {{-2, "Bb"}, {-1, "B"}, {0, "C"}, {9, "A"}, {6, "F#"}};
    for (const auto& c : table) {
        SCOPED_TRACE(c.name);
        Form1->State.KeyOffset = c.key == 5 ? 4 : 5;
        ScriptedDraws draws({c.key + 2}, 12);
        SelectNewKey();
        EXPECT_EQ(Form1->State.KeyOffset, c.key);
        EXPECT_EQ(TonicForm->ComboBox1->currentText(), c.name);
    }
}

TEST_F(TonicDialogTest, PickingFromTheListSetsTheKeyAndTypingDoesNot)
{
    const struct {
        const char* name;
        int32_t key;
    } table[] = {{"C", 0}, {"B", -1}, {"Bb", -2}, {"A", 9}, {"C#", 1}, {"C#", 1}};
    ScriptedDraws draws({7}, 12);  // the showing draws 5
    TonicForm->show();        // shown as the modal showing shows it, without its loop
    ASSERT_EQ(Form1->State.KeyOffset, 5);
    for (const auto& c : table) {
        SCOPED_TRACE(c.name);
        Pick(c.name);
        EXPECT_EQ(Form1->State.KeyOffset, c.key);
        EXPECT_EQ(TonicForm->ComboBox1->currentText(), c.name);
    }

    // Typing a key's name, even with Enter, leaves the key and the list alone.
    QLineEdit* field = TonicForm->ComboBox1->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, "G");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(Form1->State.KeyOffset, 1);
    EXPECT_EQ(TonicForm->ComboBox1->count(), 12);
    EXPECT_TRUE(TonicForm->isVisible());  // Enter pressed no button either
    EXPECT_TRUE(Device(0).Messages().empty());
    TonicForm->hide();
}

TEST_F(TonicDialogTest, PlayNewTonicSoundsDoOfThePickedKey)
{
    const struct {
        const char* name;
        uint8_t key;
    } table[] = {{"A", 69}, {"Bb", 58}};
    SelectNewKey([&] {
        for (const auto& c : table) {
            SCOPED_TRACE(c.name);
            Pick(c.name);
            Device(0).Clear();
            QTest::mouseClick(TonicForm->Button1, Qt::LeftButton);
            ASSERT_EQ(Device(0).Messages().size(), 1u);
            const auto& sent = Device(0).Messages().front();
            EXPECT_EQ(sent.status, vocarine::NoteOnStatus);
            EXPECT_EQ(sent.data1, c.key);
            EXPECT_EQ(sent.data2, vocarine::NoteVelocity);
        }
    });
    EXPECT_EQ(Form1->State.KeyOffset, -2);  // closing keeps the picked key
}

TEST_F(TonicDialogTest, AutoDriveGoesOnBehindTheModalDialog)
{
    ASSERT_TRUE(Form1->Timer1->isActive());
    Form1->TrackBar1->setValue(2000);
    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
    ASSERT_EQ(Form1->State.DisplayCountdown, -1);

    // Only the dialog's own modal loop runs while it is open: a poller in
    // that loop watches the ticks show a cell and count the first wait down,
    // then closes the dialog (or gives up after a generous time).
    bool counted = false;
    QElapsedTimer clock;
    clock.start();
    QTimer poller;
    poller.setInterval(20);
    QObject::connect(&poller, &QTimer::timeout, [&] {
        counted = Form1->State.DisplayCountdown == 3 && TonicForm->isVisible();
        if (counted || clock.elapsed() > 15000) {
            poller.stop();
            TonicForm->Button2->click();
        }
    });
    poller.start();
    Form1->NewKeyButton->click();
    EXPECT_FALSE(TonicForm->isVisible());
    EXPECT_TRUE(counted);
    EXPECT_EQ(AutoForm->Label2->text(), "4");
    EXPECT_EQ(Form1->Label1->text().toStdString(), vocarine::CellCounterText(Form1->State));
    QTest::mouseClick(AutoForm->Button1, Qt::LeftButton);
}

}  // namespace
