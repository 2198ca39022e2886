#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QToolButton>
#include <algorithm>

TUpDown::TUpDown(QWidget* parent) : QWidget(parent)
{
    // The arrows repeat while held, as an up-down does; the control itself
    // takes the keyboard focus so that the arrow keys step it too.
    const auto makeArrow = [this](Qt::ArrowType arrow, Button button) {
        auto* b = new QToolButton(this);
        b->setArrowType(arrow);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, button] { Step(button); });
        return b;
    };
    up_ = makeArrow(Qt::UpArrow, Button::Up);
    down_ = makeArrow(Qt::DownArrow, Button::Down);
    up_->setObjectName("UpArrow");
    down_->setObjectName("DownArrow");
    setFocusPolicy(Qt::StrongFocus);
    resize(16, 24);
    PlaceArrows();
}

void TUpDown::SetRange(int min, int max)
{
    min = std::clamp(min, Lowest, Highest);
    max = std::clamp(max, Lowest, Highest);
    if (min > max)
        std::swap(min, max);
    min_ = min;
    max_ = max;
    position_ = std::clamp(position_, min_, max_);
}

void TUpDown::SetPosition(int position)
{
    position_ = std::clamp(position, min_, max_);
}

void TUpDown::Step(Button button)
{
    const int next = std::clamp(position_ + (button == Button::Up ? 1 : -1), min_, max_);
    if (next == position_)
        return;  // at the end of the range an arrow does nothing at all
    position_ = next;
    emit Click(button);
}

void TUpDown::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceArrows();
}

void TUpDown::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        Step(Button::Up);
        break;
    case Qt::Key_Down:
        Step(Button::Down);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TUpDown::PlaceArrows()
{
    // The up arrow takes the upper half, the down arrow the rest.
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
}
