// An up-down control without an edit box: two arrows that step a position
// between a minimum and a maximum, without wrapping around.
#pragma once

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT

public:
    enum class Button { Up, Down };

    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetRange(int min, int max);
    void SetPosition(int position);

    QToolButton* UpArrow() const { return up_; }
    QToolButton* DownArrow() const { return down_; }

signals:
    // Fired when an arrow changed the position (not at the end of the range).
    void Click(TUpDown::Button button);

private:
    void Step(Button button);

    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};
