#include "ui/Design.h"

#include <QTextDocument>
#include <QWidget>
#include <algorithm>

QFont DesignFont(int pixels)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

QSize ClientSizeFor(const QWidget* window, QSize outer)
{
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    return {std::max(1, outer.width() - frame.width()), std::max(1, outer.height() - frame.height())};
}

QString PlainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text;  // no tooltip at all
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}
