// zentu-widgets: the desktop widgets of Zentu, drawn from the snapshot that the app writes.
#include "widgets/Anfitrion.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentu-widgets"));
    QApplication::setApplicationDisplayName(QStringLiteral("Widgets de Zentu"));
    QApplication::setDesktopFileName(QStringLiteral("zentu-widgets"));
    // The widgets live on the desktop: closing or hiding one never ends the host.
    QApplication::setQuitOnLastWindowClosed(false);
    Anfitrion anfitrion;
    anfitrion.iniciar();
    return app.exec();
}
