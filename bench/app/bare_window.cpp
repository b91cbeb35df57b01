// The smallest Qt Widgets program with a window on screen: the yardstick the
// player's memory is measured against (bench_memory).

#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("A bare Qt Widgets window"));
    window.resize(420, 300);
    window.show();
    return QApplication::exec();
}
