// The windows were laid out at 120 pixels per inch in "MS Sans Serif". Their
// pixels are used one to one as logical pixels (Qt scales those on dense
// screens), and a sans of the same metrics stands in for the font.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>

class QWidget;

// The windows' sans font, `pixels` high.
QFont DesignFont(int pixels);

// How many of the design's pixels a font of `points` points is high.
constexpr int DesignPixels(int points)
{
    return (points * 120 + 36) / 72;
}

// The client size that gives `window` the outer size `outer`, frame included.
// Qt learns the frame's margins when the window is first mapped, so under a
// window manager that adds the frame late the first showing can come out
// larger by the frame; later showings fit exactly.
QSize ClientSizeFor(const QWidget* window, QSize outer);

// A tooltip that shows `text` as it stands. Qt guesses whether a tooltip is
// rich text, so words from a cell file or a name chosen by another program
// could show as markup: the text is escaped into rich text of its own.
QString PlainToolTip(const QString& text);
