// The tray icon docked in a real panel tray (trayer, an XEmbed tray) painted dark while the
// desktop's own scheme is light: the icon must still stand out from the panel.
#include "comun/Ayudas.h"
#include "plataforma/EsquemaColor.h"
#include "zentu/app/Bandeja.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <cmath>

namespace {

double luma(QColor c) { return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue(); }

}  // namespace

TEST(X11IconoBandeja, SeVeEnUnaBarraOscura) {
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) GTEST_SKIP() << "sin trayer";
    if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "ya hay una bandeja";
    ASSERT_EQ(EsquemaColor::sistema().actual(), Esquema::claro);
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);

    // A 96 × 32 panel in the top right corner, tinted nearly black.
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
                 {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "96", "--height", "32",
                  "--transparent", "true", "--alpha", "0", "--tint", "0x181818", "--expand", "false"});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    struct Parar {
        QProcess& p;
        ~Parar() {
            p.terminate();
            p.waitForFinished(5000);
        }
    } parar{trayer};
    ASSERT_TRUE(pruebas::esperarHasta([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    const QRect zona(pantalla->geometry().right() - 95, 0, 96, 32);
    auto ver = [&] { return pantalla->grabWindow(0, zona.x(), zona.y(), zona.width(), zona.height()).toImage(); };
    QColor barra;
    const bool pintada = pruebas::esperarHasta(
        [&] {
            barra = ver().pixelColor(zona.width() / 2, zona.height() / 2);
            return luma(barra) < 40;
        },
        10000);
    ASSERT_TRUE(pintada) << barra.name().toStdString();

    Bandeja bandeja;
    MenuBandeja::Datos datos;
    bandeja.montar(datos);
    ASSERT_TRUE(bandeja.item()->isVisible());

    // Waits until the docked icon is drawn (part of the panel no longer has the panel's colour),
    // then counts the pixels that stand well apart from it.
    int destacan = 0;
    QImage vista;
    const bool dibujado = pruebas::esperarHasta(
        [&] {
            vista = ver();
            int distintos = 0;
            destacan = 0;
            for (int y = 0; y < vista.height(); ++y)
                for (int x = 0; x < vista.width(); ++x) {
                    const double d = std::abs(luma(vista.pixelColor(x, y)) - luma(barra));
                    if (d > 6) ++distintos;
                    if (d > 110) ++destacan;
                }
            return distintos >= 30;
        },
        10000);
    vista.scaled(vista.size() * 4).save(pruebas::carpetaArtefactos("app") + "/bandeja-oscura.png");
    ASSERT_TRUE(dibujado);
    EXPECT_GE(destacan, 40);
}
