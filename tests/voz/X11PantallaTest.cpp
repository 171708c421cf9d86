// Real captures on the X server (Xvfb): windows of another process are drawn by a second copy of
// this test binary (the helper "test" below), so the picture shows what a foreign program shows.
#include "zentu/voz/Pantalla.h"

#include "comun/Ayudas.h"
#include "plataforma/Registro.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QSocketNotifier>
#include <QWidget>
#include <unistd.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

using pruebas::esperar;
using pruebas::esperarHasta;

// Runs only inside the helper process: one plain window of the colour and geometry it is told,
// its X id on standard output, until standard input closes.
TEST(AyudaX11, VentanaAjena) {
    const QString pedido = qEnvironmentVariable("ZENTU_VENTANA_AJENA");
    if (pedido.isEmpty()) GTEST_SKIP() << "solo como proceso ayudante";
    const QStringList p = pedido.split(',');  // color,x,y,ancho,alto
    QWidget v;
    v.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    v.setAutoFillBackground(true);
    QPalette pal = v.palette();
    pal.setColor(QPalette::Window, QColor(p[0]));
    v.setPalette(pal);
    v.setGeometry(p[1].toInt(), p[2].toInt(), p[3].toInt(), p[4].toInt());
    v.show();
    esperarHasta([&] { return v.isVisible(); });
    pruebas::girar(200);
    std::printf("ventana %llu\n", static_cast<unsigned long long>(v.winId()));
    std::fflush(stdout);
    bool fin = false;
    QSocketNotifier entrada(0, QSocketNotifier::Read);
    QObject::connect(&entrada, &QSocketNotifier::activated, [&] {
        char c;
        if (::read(0, &c, 1) <= 0) fin = true;
    });
    esperarHasta([&] { return fin; }, 120000);
}

// A window of another process, shown while the object lives.
class Ajena {
public:
    Ajena(const QString& color, QRect r) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZENTU_VENTANA_AJENA",
                   QStringLiteral("%1,%2,%3,%4,%5").arg(color).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        proceso_.setProcessEnvironment(env);
        proceso_.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=AyudaX11.VentanaAjena"});
        esperarHasta([&] {
            while (proceso_.canReadLine()) {
                const QByteArray l = proceso_.readLine().trimmed();
                if (l.startsWith("ventana ")) id_ = QString::fromLatin1(l.mid(8));
            }
            return !id_.isEmpty();
        }, 15000);
    }
    ~Ajena() {
        proceso_.closeWriteChannel();
        if (!proceso_.waitForFinished(3000)) proceso_.kill();
        proceso_.waitForFinished(1000);
    }
    QString id() const { return id_; }
    // Gives it the keyboard, and waits until the X server says it has it (another client may
    // still be handing the focus around on a busy display).
    void enfocar() {
        esperarHasta(
            [&] {
                QProcess::execute("xdotool", {"windowfocus", "--sync", id_});
                QProcess foco;
                foco.start("xdotool", {"getwindowfocus"});
                foco.waitForFinished(5000);
                return foco.readAllStandardOutput().trimmed() == id_.toLatin1();
            },
            15000);
    }

private:
    QProcess proceso_;
    QString id_;
};

QImage leer(const QString& ruta) {
    QImageReader lector(ruta);
    return lector.read();
}

struct Lineas {
    QStringList todas;
    Lineas() {
        Registro::observar([this](const QString& l) { if (l.startsWith("[pantalla]")) todas << l; });
    }
    ~Lineas() { Registro::observar({}); }
};

bool parecido(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

TEST(X11Pantalla, LaVentanaDelFrenteSola) {
    Ajena roja("#d02020", {300, 200, 800, 600});
    ASSERT_FALSE(roja.id().isEmpty());
    roja.enfocar();
    Lineas lineas;
    const QString ruta = esperar(Pantalla::capturar());
    const QImage img = leer(ruta);
    EXPECT_EQ(img.size(), QSize(1600, 1200));  // 800 x 600, twice
    EXPECT_TRUE(parecido(img.pixelColor(800, 600), QColor("#d02020")));
    EXPECT_TRUE(parecido(img.pixelColor(5, 5), QColor("#d02020")));
    EXPECT_TRUE(QFileInfo(ruta).fileName().startsWith("Pantalla "));
    EXPECT_EQ(QFileInfo(QFileInfo(ruta).path()).permissions() & 0x7077,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(lineas.todas.size(), 1);
    EXPECT_TRUE(lineas.todas[0].endsWith(" KB · ventana activa")) << lineas.todas[0].toStdString();
    EXPECT_TRUE(lineas.todas[0].startsWith("[pantalla] captura 1600×1200 · "));
    img.save(pruebas::carpetaArtefactos("voz") + "/captura-ventana.png");
    QFile::remove(ruta);
}

TEST(X11Pantalla, PaletaPequenaDaLaPantallaEnteraSinNuestrasVentanas) {
    Ajena fondo("#2040c0", {0, 0, 1920, 1080});
    Ajena paleta("#d0d020", {1500, 100, 100, 60});
    // One of ours on top of the foreign window: it must not be in the picture.
    QWidget nuestra;
    nuestra.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    nuestra.setAutoFillBackground(true);
    QPalette pal = nuestra.palette();
    pal.setColor(QPalette::Window, QColor("#20c040"));
    nuestra.setPalette(pal);
    nuestra.setGeometry(200, 200, 400, 300);
    nuestra.show();
    pruebas::girar(300);
    paleta.enfocar();
    QProcess::execute("xdotool", {"mousemove", "960", "540"});

    Lineas lineas;
    const QString ruta = esperar(Pantalla::capturar());
    const QImage img = leer(ruta);
    img.save(pruebas::carpetaArtefactos("voz") + "/captura-pantalla.png");
    EXPECT_EQ(img.size(), QSize(1600, 900));
    ASSERT_EQ(lineas.todas.size(), 1);
    EXPECT_TRUE(lineas.todas[0].endsWith(" KB · pantalla entera"));
    // Centre of our window (400, 350) scaled by 1600/1920: the foreign blue, not our green.
    const QColor centro = img.pixelColor(333, 291);
    EXPECT_TRUE(parecido(centro, QColor("#2040c0"))) << centro.name().toStdString();
    EXPECT_TRUE(parecido(img.pixelColor(1291, 108), QColor("#d0d020")));  // the palette is there
    // Our window is whole again afterwards.
    EXPECT_TRUE(nuestra.isVisible());
    QFile::remove(ruta);

    // With our own window in front the display is taken too.
    nuestra.activateWindow();
    QProcess::execute("xdotool", {"windowfocus", "--sync", QString::number(nuestra.winId())});
    lineas.todas.clear();
    const QString otra = esperar(Pantalla::capturar());
    ASSERT_EQ(lineas.todas.size(), 1);
    EXPECT_TRUE(lineas.todas[0].endsWith(" KB · pantalla entera"));
    QFile::remove(otra);
}

}  // namespace
