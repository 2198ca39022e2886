#include "ui/PitchTrace.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

// Dark navy: stands out on the grey panel and is none of the verdict colours.
const QColor TraceColour(20, 40, 110);

}  // namespace

TPitchTrace::TPitchTrace(QWidget* parent)
    : QWidget(parent)
{
    // Drawn over the panel only; clicks go to whatever lies under it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void TPitchTrace::Clear()
{
    points_.clear();
    update();
}

void TPitchTrace::Add(double time, std::optional<double> semitone)
{
    points_.push_back({time, semitone});
    update();
}

// Once the take runs past the right edge, the trace scrolls to keep its newest
// point in view.
double TPitchTrace::Shift() const
{
    if (points_.empty())
        return 0.0;
    const double right = Margin + points_.back().time * PixelsPerSecond;
    return std::max(0.0, right - (width() - Margin));
}

QPointF TPitchTrace::Place(double time, double semitone) const
{
    return {Margin + time * PixelsPerSecond - Shift(), height() - SemitoneHeight * semitone};
}

std::optional<QPointF> TPitchTrace::LastPoint() const
{
    if (points_.empty() || !points_.back().semitone)
        return std::nullopt;
    return Place(points_.back().time, *points_.back().semitone);
}

void TPitchTrace::paintEvent(QPaintEvent*)
{
    if (points_.empty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(TraceColour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setClipRect(rect().adjusted(1, 1, -1, -1));  // the panel's outline stays whole

    // One line a voiced stretch; a lone voiced point shows as a dot.
    QPainterPath path;
    bool drawing = false;
    for (const Point& p : points_) {
        if (!p.semitone) {
            drawing = false;
            continue;
        }
        const QPointF at = Place(p.time, *p.semitone);
        if (drawing) {
            path.lineTo(at);
        } else {
            path.moveTo(at);
            path.lineTo(at + QPointF(0.5, 0.0));
            drawing = true;
        }
    }
    painter.drawPath(path);
}
