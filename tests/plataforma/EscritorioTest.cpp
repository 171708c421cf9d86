// "Show in folder" asks the desktop's file manager over D-Bus; a stand-in file manager on the
// test session bus records what it was asked to show.
#include "plataforma/Escritorio.h"

#include "comun/Ayudas.h"

#include <QDBusConnection>
#include <QFile>
#include <QTemporaryDir>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QDir>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

class GestorDeArchivosFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList vistos;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& arranque) {
        vistos << uris;
        (void)arranque;
    }
};

TEST(Escritorio, MostrarEnCarpetaPideAlGestorDeArchivos) {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "sin bus de sesión";
    // The stand-in lives on a connection of its own, so the call really crosses the bus.
    QDBusConnection otra = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("gestor"));
    ASSERT_TRUE(otra.isConnected());
    GestorDeArchivosFalso gestor;
    ASSERT_TRUE(otra.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &gestor,
                                    QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(otra.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    const QString ruta = QStringLiteral("/tmp/carpeta con espacios/factura ñ.pdf");
    EXPECT_TRUE(Escritorio::actual().mostrarEnCarpeta(ruta));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !gestor.vistos.isEmpty(); }));
    EXPECT_EQ(gestor.vistos, QStringList{QUrl::fromLocalFile(ruta).toString(QUrl::FullyEncoded)});
    EXPECT_EQ(QUrl(gestor.vistos.value(0)).toLocalFile(), ruta);

    otra.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("gestor"));
}

namespace {

// A desktop of the test's own: its data and configuration folders hold only what the test puts
// there, so that xdg-mime and the desktop's opener see nothing of the machine's applications.
class EscritorioPropio {
public:
    EscritorioPropio() {
        for (const char* v : kVariables) antes_.emplace_back(v, qgetenv(v), qEnvironmentVariableIsSet(v));
        qputenv("XDG_DATA_HOME", (dir_.path() + "/datos").toUtf8());
        qputenv("XDG_DATA_DIRS", (dir_.path() + "/sistema").toUtf8());
        qputenv("XDG_CONFIG_HOME", (dir_.path() + "/config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", (dir_.path() + "/etc").toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("DE");
        qunsetenv("BROWSER");
        // The types of files stay the machine's; only its applications are left out.
        QDir().mkpath(dir_.path() + "/sistema");
        QFile::link("/usr/share/mime", dir_.path() + "/sistema/mime");
    }
    ~EscritorioPropio() {
        for (const auto& [v, valor, estaba] : antes_) {
            if (estaba) qputenv(v, valor);
            else qunsetenv(v);
        }
    }
    QString ruta(const QString& nombre) const { return dir_.path() + "/" + nombre; }

    // An application that opens `tipos`: it writes what it was given to its log.
    QString visor(const QString& nombre, const QStringList& tipos) {
        const QString programa = ruta(nombre);
        QFile p(programa);
        EXPECT_TRUE(p.open(QIODevice::WriteOnly));
        p.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(ruta(nombre + ".log")).toUtf8());
        p.close();
        p.setPermissions(p.permissions() | QFile::ExeOwner);
        QDir().mkpath(dir_.path() + "/datos/applications");
        QFile e(dir_.path() + "/datos/applications/" + nombre + ".desktop");
        EXPECT_TRUE(e.open(QIODevice::WriteOnly));
        e.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2 %f\nMimeType=%3;\n")
                    .arg(nombre, programa, tipos.join(';'))
                    .toUtf8());
        return ruta(nombre + ".log");
    }
    QString archivo(const QString& nombre, const QByteArray& datos) const {
        QFile f(ruta(nombre));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(datos);
        return ruta(nombre);
    }

private:
    static constexpr const char* kVariables[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME",
                                                 "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP", "DE", "BROWSER"};
    QTemporaryDir dir_;
    std::vector<std::tuple<const char*, QByteArray, bool>> antes_;
};

QString leerTodo(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

// A file opens with the application its type names, and the caller is told so; a file that no
// application opens starts nothing and the caller is told that.
TEST(Escritorio, AbrirArchivoDiceSiAlgoLoAbrio) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "el abridor del escritorio necesita una pantalla";
    EscritorioPropio escritorio;
    const QString registro = escritorio.visor("visor-prueba", {"application/pdf", "text/plain"});
    const QString pdf = escritorio.archivo("factura.pdf", "%PDF-1.4\n%%EOF\n");
    const QString csv = escritorio.archivo("ventas.csv", "dia,total\nlunes,3\n");  // a kind of text
    const QString raro = escritorio.archivo("modelo.blend", "BLENDER-v300");

    EXPECT_EQ(Escritorio::actual().aplicacionPara(pdf), std::optional<QString>("visor-prueba.desktop"));
    EXPECT_EQ(Escritorio::actual().aplicacionPara(csv), std::optional<QString>("visor-prueba.desktop"));
    EXPECT_EQ(Escritorio::actual().aplicacionPara(raro), std::nullopt);

    EXPECT_TRUE(Escritorio::actual().abrirArchivo(pdf));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return leerTodo(registro).contains(pdf); }, 20000)) << leerTodo(registro).toStdString();
    EXPECT_FALSE(Escritorio::actual().abrirArchivo(raro));
    EXPECT_TRUE(Escritorio::actual().abrirArchivo(pdf));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return leerTodo(registro).count('\n') == 2; }, 20000));
    EXPECT_FALSE(leerTodo(registro).contains(raro));
}

#include "EscritorioTest.moc"
