// The yardstick of startup_bench: a bare Qt window with the main window's
// controls, in the same places, fonts and colours, and nothing behind them (no
// MIDI, no sound, no cell file). It links Qt alone, so what Vocarine takes
// beyond it is what its own start-up costs.
#include <QApplication>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

#include "ui/Design.h"

namespace {

class Panel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(Qt::black);
        painter.setBrush(QColor(180, 180, 180));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

class BareWindow : public QMainWindow {
public:
    BareWindow()
    {
        setWindowTitle(QStringLiteral("Vocarine"));
        move(206, 123);
        resize(734, 628);
        QPalette face = palette();
        face.setColor(QPalette::Window, face.color(QPalette::Button));
        setPalette(face);
        setFont(DesignFont(14));

        auto* client = new QWidget(this);
        setCentralWidget(client);
        auto button = [](QWidget* parent, const QString& caption, QRect geometry) {
            auto* b = new QPushButton(caption, parent);
            b->setGeometry(geometry);
            return b;
        };
        auto staticText = [](QWidget* parent, const QString& caption, QRect geometry) {
            auto* t = new QLabel(caption, parent);
            t->setGeometry(geometry);
            t->adjustSize();
        };

        auto* counter = new QLabel(QStringLiteral("cell 1 of 156"), client);
        counter->setFont(DesignFont(20));
        counter->setGeometry(225, 30, 59, 25);
        counter->adjustSize();
        (new Panel(client))->setGeometry(213, 69, 479, 369);
        button(client, QStringLiteral("Display"), {59, 297, 123, 37})->setFont(DesignFont(20));
        button(client, QStringLiteral("Play"), {59, 247, 123, 37})->setFont(DesignFont(20));
        button(client, QStringLiteral("Sing"), {59, 347, 123, 37})->setFont(DesignFont(20));
        auto* tempo = new QSlider(Qt::Horizontal, client);
        tempo->setGeometry(457, 500, 184, 55);
        tempo->setRange(50, 2000);
        tempo->setValue(1200);
        auto* key = new QGroupBox(QStringLiteral("KEY"), client);
        key->setGeometry(27, 71, 164, 132);
        button(key, QStringLiteral("Where's Do?"), {22, 31, 121, 31});
        button(key, QStringLiteral("Select New Key"), {23, 78, 120, 30});
        auto* another = new QGroupBox(QStringLiteral("GET ANOTHER CELL"), client);
        another->setGeometry(59, 460, 355, 106);
        button(another, QStringLiteral("Keep"), {20, 27, 80, 31});
        button(another, QStringLiteral("Move On"), {20, 59, 80, 31});
        staticText(another, QStringLiteral("Come back to this one again"), {111, 33, 173, 20});
        staticText(another, QStringLiteral("Done with this cell"), {111, 64, 109, 20});
        staticText(client, QStringLiteral("Tempo"), {521, 474, 48, 20});
        // The line of the grade, the ten note labels and their cents, hidden
        // until a cell is shown or graded.
        auto* grade = new QLabel(client);
        grade->setGeometry(213, 440, 479, 18);
        grade->hide();
        for (int j = 0; j < 10; ++j)
            (new QLabel(client))->hide();
        for (int j = 0; j < 10; ++j) {
            auto* label = new QLabel(client);
            label->move(213 + 50 * j + 40, 200);
            label->hide();
        }

        menuBar()->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Open"));
        menuBar()->addMenu(QStringLiteral("Setup"))->addAction(QStringLiteral("MIDI Setup"));
        menuBar()->addMenu(QStringLiteral("AutoDrive"))->addAction(QStringLiteral("AutoDrive"));
        statusBar()->addWidget(new QLabel(this), 1);
        statusBar()->setVisible(false);

        auto* timer = new QTimer(this);
        timer->start(1000);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QApplication app(argc, argv);
    for (const char* family : {"MS Sans Serif", "Arial"})
        QFont::insertSubstitutions(QString::fromLatin1(family),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    BareWindow window;
    window.show();
    return app.exec();
}
