// A framed group of radio buttons, one column, with the selected item's index.
#pragma once

#include <QStringList>
#include <QWidget>
#include <vector>

class QRadioButton;

class TRadioGroup : public QWidget {
    Q_OBJECT

public:
    explicit TRadioGroup(const QStringList& items, QWidget* parent = nullptr);

    int ItemIndex() const;           // -1 when none is selected
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const;

signals:
    void Click();  // the user selected another item

private:
    std::vector<QRadioButton*> items_;
};
