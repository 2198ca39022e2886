// A drawn rectangle with a fill colour and a one-pixel black outline.
#pragma once

#include <QColor>
#include <QWidget>

class TShape : public QWidget {
    Q_OBJECT

public:
    explicit TShape(QWidget* parent = nullptr);
    QColor Brush() const { return brush_; }
    void SetBrush(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor brush_;
};
