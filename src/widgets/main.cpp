// zentu-widgets: the desktop widgets of Zentu, drawn from the snapshot that the app writes.
#include "widgets/Anfitrion.h"

#include "plataforma/PlataformaQt.h"
#include "plataforma/Registro.h"
#include "plataforma/Traducciones.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QStandardPaths>

int main(int argc, char** argv) {
    // The links this host opens reach `zentu` through the desktop's opener; this tells it where
    // they came from.
    qputenv("ZENTU_DESDE_WIDGET", "1");
    // In a Wayland session through XWayland, where the widgets can stay below other windows.
    PlataformaQt::Argumentos conPlataforma(argc, argv);
    QApplication app(conPlataforma.argc(), conPlataforma.argv());
    Traducciones::instalarQt();
    QApplication::setApplicationName(QStringLiteral("zentu-widgets"));
    QApplication::setApplicationDisplayName(QStringLiteral("Widgets de Zentu"));
    QApplication::setDesktopFileName(QStringLiteral("zentu-widgets"));
    // Every window carries it (_NET_WM_ICON), for the desktop's window lists.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icono/zentu-widgets.svg")));
    // The widgets live on the desktop: closing or hiding one never ends the host.
    QApplication::setQuitOnLastWindowClosed(false);
    // One host per session: a second one (the login start and a manual start) would put every
    // widget on the desktop twice.
    QString carpeta = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (carpeta.isEmpty()) carpeta = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(carpeta);
    QLockFile cerrojo(carpeta + QStringLiteral("/zentu-widgets.lock"));
    cerrojo.setStaleLockTime(0);
    if (!cerrojo.tryLock(100)) {
        Registro::escribir(QStringLiteral("[widgets] ya hay un anfitrión de widgets en marcha"));
        return 0;
    }
    Anfitrion anfitrion;
    anfitrion.iniciar();
    return app.exec();
}
