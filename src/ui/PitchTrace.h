// The sung pitch drawn over the staff panel while the trainer listens: a line
// at the height where the cell view would put a syllable of that pitch.
#pragma once

#include <QWidget>
#include <optional>
#include <vector>

class TPitchTrace : public QWidget {
    Q_OBJECT

public:
    // Ten pixels of height a semitone, as the note labels stand; time runs
    // to the right at this many pixels a second.
    static constexpr int SemitoneHeight = 10;
    static constexpr int PixelsPerSecond = 50;
    static constexpr int Margin = 10;

    explicit TPitchTrace(QWidget* parent = nullptr);

    void Clear();
    // A point `time` seconds into the take at `semitone` (staff semitones, as
    // the note labels count them); nullopt where nothing was sung.
    void Add(double time, std::optional<double> semitone);

    // Where the last point stands in this widget (for tests and the screenshot):
    // nullopt when nothing was sung last.
    std::optional<QPointF> LastPoint() const;
    bool IsEmpty() const { return points_.empty(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Point {
        double time = 0.0;
        std::optional<double> semitone;
    };
    QPointF Place(double time, double semitone) const;
    double Shift() const;

    std::vector<Point> points_;
};
