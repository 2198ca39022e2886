#include "ui/Shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent)
    : QWidget(parent), brush_(Qt::white)
{
    // The rectangle only shows; clicks go to whatever lies under it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TShape::SetBrush(const QColor& colour)
{
    brush_ = colour;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(brush_);
    // The outline lies inside the rectangle, on its outermost pixels.
    painter.drawRect(0, 0, width() - 1, height() - 1);
}
