// A framed group of radio buttons, one column, with the selected item's index.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    // A group without a title; `items` are the buttons from top to bottom.
    explicit TRadioGroup(const QStringList& items, QWidget* parent = nullptr);

    int ItemIndex() const;           // -1 when none is selected
    // Selects an item from code (-1 clears the selection); no Click.
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const;
    int Count() const { return static_cast<int>(items_.size()); }

signals:
    void Click();  // the user selected another item

private:
    void UserSelected(int index);

    std::vector<QRadioButton*> items_;
    QButtonGroup* group_ = nullptr;
    int selected_ = -1;  // the item the user or the code selected last
};
