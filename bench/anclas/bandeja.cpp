// The anchor of the start-up benchmark: a plain Qt tray program and nothing else. One
// QApplication, one tray icon drawn in memory, the line "[bandeja] lista" on standard error once
// it is shown; it links Qt Widgets only, none of the project's code, so what it costs is what any
// Qt tray program costs on this desktop.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QPixmap px(22, 22);
    px.fill(Qt::darkGreen);
    QSystemTrayIcon icono{QIcon(px)};
    icono.setToolTip(QStringLiteral("bandeja"));
    icono.show();
    std::fprintf(stderr, "[bandeja] lista\n");
    return app.exec();
}
