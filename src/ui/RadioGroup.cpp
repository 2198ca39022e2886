#include "ui/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(const QStringList& items, QWidget* parent) : QGroupBox(parent)
{
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 4, 8, 4);
    column->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
        column->addWidget(button);
        items_.push_back(button);
    }
    // idClicked comes from the mouse and from the keyboard, never from code.
    connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::UserSelected);
}

int TRadioGroup::ItemIndex() const
{
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < Count()) {
        items_[static_cast<std::size_t>(index)]->setChecked(true);
        selected_ = index;
        return;
    }
    // An exclusive group keeps one button checked; lift that while clearing.
    group_->setExclusive(false);
    for (QRadioButton* button : items_)
        button->setChecked(false);
    group_->setExclusive(true);
    selected_ = -1;
}

QRadioButton* TRadioGroup::Item(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return items_[static_cast<std::size_t>(index)];
}

void TRadioGroup::UserSelected(int index)
{
    // Clicking the item that is already selected is no change.
    if (index == selected_)
        return;
    selected_ = index;
    emit Click();
}
