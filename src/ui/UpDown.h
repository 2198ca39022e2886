// An up-down control without an edit box: two arrows that step a position
// between a minimum and a maximum, without wrapping around.
#pragma once

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT

public:
    enum class Button { Up, Down };

    // Positions are 16-bit signed values; ranges and positions are kept within them.
    static constexpr int Lowest = -32768;
    static constexpr int Highest = 32767;

    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    // A range given upside down is put the right way round; the position is
    // pulled into the new range.
    void SetRange(int min, int max);
    // Clamped to the range. Sets the position without a Click.
    void SetPosition(int position);

    QToolButton* UpArrow() const { return up_; }
    QToolButton* DownArrow() const { return down_; }

signals:
    // Fired when an arrow changed the position (not at the end of the range).
    void Click(TUpDown::Button button);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Step(Button button);
    void PlaceArrows();

    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};
