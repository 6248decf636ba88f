// The least a Qt Widgets program holds that shows something over a whole screen, as each
// of OrbinWash's overlays does: one label in a window the size of the screen, nothing else.
// bench_lockers measures it beside the lockers.
#include <QApplication>
#include <QLabel>
#include <QScreen>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("OrbinWash"));
    label.setWindowTitle(QStringLiteral("Bare Qt window"));
    label.setGeometry(QGuiApplication::primaryScreen()->geometry());
    label.show();
    return QApplication::exec();
}
