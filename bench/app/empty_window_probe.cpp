// The baselines: an empty QMainWindow of the same size, reporting like app_startup_probe;
// with --label it also shows one line of Korean text, which brings in the font machinery.

#include "probe_common.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(840, 540);
    if (QApplication::arguments().contains(QStringLiteral("--label")))
        window.setCentralWidget(new QLabel(QStringLiteral("방을 선택하세요")));
    new brindlewick::bench::FirstPaintProbe(&window, {});
    window.show();
    return QApplication::exec();
}
