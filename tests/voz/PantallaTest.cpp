#include "zentu/voz/Pantalla.h"

#include "comun/Ayudas.h"
#include "plataforma/CapturaPantalla.h"
#include "plataforma/CarpetaPrivada.h"
#include "plataforma/Privacidad.h"
#include "plataforma/Registro.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(Pantalla, LoPideConLasFrasesDeSiempre) {
    const struct {
        const char* texto;
        bool pide;
    } casos[] = {
        {"¿Qué ves en mi pantalla?", true},
        {"La pantalla se ve rara", false},
        {"En la pantalla aparece un error", true},
        {"Mira esto", true},
        {"Revisa la pantalla por favor", true},
        {"Pantallas nuevas", false},
        {"MÍRAME la PANTALLA", true},
        {"fíjate en lo que tengo abierto", true},
        {"¿qué tengo aquí?", true},
        {"que ves delante", true},
        {"mira\nla pantalla", false},     // . does not cross a line break
        {"mira\r\nla pantalla", false},
        {"revisa el correo y luego la pantalla", true},
        {"revisa el correo de ayer, el de la tarde, y la pantalla", false},  // more than 40 between
        {"vemos la pantalla", false},     // vemos is not one of the verbs
        {"pantalla: ¿qué ves?", true},
        {"Ver mi pantallazo", false},
        {"", false},
    };
    for (const auto& c : casos) EXPECT_EQ(Pantalla::loPide(QString::fromUtf8(c.texto)), c.pide) << c.texto;
}

TEST(Pantalla, NombreYTamanoDeLaCaptura) {
    EXPECT_EQ(Pantalla::nombreArchivo(QDateTime(QDate(2026, 3, 3), QTime(9, 5, 7))),
              QStringLiteral("Pantalla 2026-03-03 a las 09.05.07.jpg"));
    EXPECT_EQ(Pantalla::nombreArchivo(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))),
              QStringLiteral("Pantalla 2026-12-31 a las 23.59.59.jpg"));
    const struct {
        QSize puntos, captura;
    } casos[] = {
        {{2560, 1440}, {1600, 900}},
        {{600, 400}, {1200, 800}},     // never more than twice
        {{1600, 1000}, {1600, 1000}},
        {{1000, 3000}, {533, 1600}},   // truncated
        {{1920, 1080}, {1600, 900}},
        {{121, 81}, {242, 162}},
        {{0, 0}, {}},
    };
    for (const auto& c : casos) EXPECT_EQ(Pantalla::tamCaptura(c.puntos), c.captura) << c.puntos.width();
}

struct CapturaFalsa : CapturaPantalla {
    std::optional<int64_t> frente;
    std::optional<std::vector<Ventana>> lista;
    QPoint donde;
    QImage deVentana, deZona;
    QRect zonaPedida;
    std::optional<QString> fallo() const override { return std::nullopt; }
    std::optional<int64_t> pidDelFrente() override { return frente; }
    std::optional<std::vector<Ventana>> ventanas() override { return lista; }
    QPoint puntero() override { return donde; }
    QImage ventana(uint32_t) override { return deVentana; }
    QImage zona(const QRect& r, int64_t) override {
        zonaPedida = r;
        return deZona;
    }
};

TEST(Pantalla, UnaVentanaIlegibleDejaLaPantallaEntera) {
    CapturaFalsa x;
    x.frente = 42;
    x.lista = std::vector<CapturaPantalla::Ventana>{{7, {1800, 10, 600, 400}, 42}};
    x.deZona = QImage(1920, 1080, QImage::Format_RGB32);
    x.deZona.fill(Qt::gray);
    QTemporaryDir d;
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    const QString ruta = Pantalla::capturarCon(x, 1000, {{0, 0, 1920, 1080}}, d.path(), QDateTime::currentDateTime());
    Registro::observar({});
    EXPECT_EQ(x.zonaPedida, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(QImageReader(ruta).size(), QSize(1600, 900));
    ASSERT_EQ(lineas.size(), 1);
    EXPECT_TRUE(lineas[0].endsWith("pantalla entera"));
}

TEST(Pantalla, EligeLaVentanaDelFrenteOLaPantallaDelPuntero) {
    const int64_t yo = 1000;
    const QRect una(0, 0, 1920, 1080), otra(1920, 0, 2560, 1440);
    using V = CapturaPantalla::Ventana;
    const struct {
        const char* nombre;
        std::optional<int64_t> frente;
        std::optional<std::vector<V>> lista;
        QPoint puntero;
        std::vector<QRect> pantallas;
        std::optional<uint32_t> ventana;
        QRect zona;
    } casos[] = {
        {"navegador al frente", 42, std::vector<V>{{7, {10, 10, 1280, 800}, 42}, {8, {0, 0, 500, 500}, 42}}, {}, {una},
         7, {10, 10, 1280, 800}},
        {"otra aplicación delante no cuenta", 42, std::vector<V>{{3, {0, 0, 800, 600}, 9}, {7, {5, 5, 700, 500}, 42}},
         {}, {una}, 7, {5, 5, 700, 500}},
        {"paleta pequeña y luego la grande", 42, std::vector<V>{{5, {0, 0, 100, 60}, 42}, {6, {0, 0, 900, 700}, 42}},
         {}, {una}, 6, {0, 0, 900, 700}},
        {"solo una paleta", 42, std::vector<V>{{5, {0, 0, 100, 60}, 42}}, {50, 50}, {una}, std::nullopt, una},
        {"justo 120 x 80", 42, std::vector<V>{{5, {0, 0, 120, 80}, 42}}, {50, 50}, {una}, std::nullopt, una},
        {"el frente somos nosotros", yo, std::vector<V>{{5, {0, 0, 800, 600}, yo}}, {50, 50}, {una}, std::nullopt,
         una},
        {"nadie al frente", std::nullopt, std::vector<V>{{5, {0, 0, 800, 600}, 42}}, {50, 50}, {una}, std::nullopt,
         una},
        {"lista ilegible", 42, std::nullopt, {50, 50}, {una}, std::nullopt, una},
        {"puntero en la segunda", std::nullopt, std::vector<V>{}, {2000, 300}, {una, otra}, std::nullopt, otra},
        {"puntero fuera de todas", std::nullopt, std::vector<V>{}, {-5, -5}, {una, otra}, std::nullopt, una},
    };
    for (const auto& c : casos) {
        CapturaFalsa x;
        x.frente = c.frente;
        x.lista = c.lista;
        x.donde = c.puntero;
        const auto e = Pantalla::elegir(x, yo, c.pantallas);
        ASSERT_TRUE(e) << c.nombre;
        EXPECT_EQ(e->ventana, c.ventana) << c.nombre;
        EXPECT_EQ(e->zona, c.zona) << c.nombre;
    }
    CapturaFalsa x;
    EXPECT_FALSE(Pantalla::elegir(x, yo, {}));
    QTemporaryDir d;
    try {
        Pantalla::capturarCon(x, yo, {}, d.path(), QDateTime::currentDateTime());
        ADD_FAILURE() << "sin pantallas no hay captura";
    } catch (const Pantalla::Error& e) {
        EXPECT_EQ(e.fallo(), Pantalla::Fallo::nada);
        EXPECT_EQ(e.texto(), QStringLiteral("No encontré qué capturar en la pantalla."));
    }
}

TEST(Pantalla, GuardaUnJpegEscaladoYLoAnota) {
    QTemporaryDir d;
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    QImage imagen(2560, 1440, QImage::Format_RGB32);
    imagen.fill(QColor(200, 30, 30));
    const QDateTime t(QDate(2026, 3, 3), QTime(9, 5, 7));
    const QString ruta = Pantalla::guardar(imagen, {2560, 1440}, true, d.path(), t);
    Registro::observar({});
    EXPECT_EQ(ruta, d.path() + QStringLiteral("/Pantalla 2026-03-03 a las 09.05.07.jpg"));
    QImageReader lector(ruta);
    EXPECT_EQ(lector.format(), QByteArray("jpeg"));
    EXPECT_EQ(lector.size(), QSize(1600, 900));
    const qint64 kb = QFileInfo(ruta).size() / 1024;
    EXPECT_TRUE(lineas.contains(QStringLiteral("[pantalla] captura 1600×900 · %1 KB · ventana activa").arg(kb)))
        << lineas.join('\n').toStdString();

    // A picture that cannot be taken is "nothing to capture"; a folder that cannot be written is
    // the platform's own text.
    EXPECT_THROW(Pantalla::guardar(QImage(), {100, 100}, false, d.path(), t), Pantalla::Error);
    try {
        Pantalla::guardar(imagen, {2560, 1440}, false, d.path() + "/no/existe", t);
        ADD_FAILURE();
    } catch (const Pantalla::Error& e) {
        EXPECT_FALSE(e.fallo());
        EXPECT_TRUE(e.texto().startsWith(QStringLiteral("No se pudo guardar la captura")));
    }
}

// A desktop whose probe answers as told, whatever display this test runs on.
class SinPantalla : public Privacidad {
public:
    Captura captura = Captura::noFunciona;
    Sesion sesion() override { return Sesion::x11; }
    bool pantallaPermitida() override { return true; }
    QCoro::Task<Captura> probarPantalla() override { co_return captura; }
};

// A refused capture asks for the permission; a desktop that offers none says so, in one text.
TEST(Pantalla, SinCapturaLoDiceAsi) {
    struct Caso {
        Privacidad::Captura captura;
        Pantalla::Fallo fallo;
        const char* texto;
    };
    const Caso casos[] = {
        {Privacidad::Captura::noFunciona, Pantalla::Fallo::sinPermiso, "Falta el permiso de grabación de pantalla."},
        {Privacidad::Captura::noOfrecida, Pantalla::Fallo::sinCaptura,
         "No se pudo capturar la pantalla: este escritorio no ofrece capturas."},
    };
    SinPantalla falsa;
    Privacidad::usar(&falsa);
    for (const Caso& c : casos) {
        falsa.captura = c.captura;
        try {
            pruebas::esperar(Pantalla::capturar());
            ADD_FAILURE();
        } catch (const Pantalla::Error& e) {
            EXPECT_EQ(e.fallo(), c.fallo);
            EXPECT_EQ(e.texto(), QString::fromUtf8(c.texto));
        }
    }
    Privacidad::usar(nullptr);
}

TEST(CarpetaPrivada, SoloDelUsuarioYNuncaUnEnlace) {
    QTemporaryDir d;
    const QByteArray antes = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", d.path().toUtf8());
    const auto ruta = CarpetaPrivada::ruta();
    ASSERT_TRUE(ruta);
    EXPECT_EQ(*ruta, d.path() + "/zentu");
    EXPECT_EQ(QFileInfo(*ruta).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(*ruta, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                     QFile::ExeOther);
    ASSERT_TRUE(CarpetaPrivada::ruta());  // widened by someone: narrowed again
    EXPECT_FALSE(QFileInfo(*ruta).permissions() & QFile::ReadOther);

    QTemporaryDir otra, destino;
    QFile::link(destino.path(), otra.path() + "/zentu");
    qputenv("XDG_RUNTIME_DIR", otra.path().toUtf8());
    QString motivo;
    EXPECT_FALSE(CarpetaPrivada::ruta(&motivo));
    EXPECT_FALSE(motivo.isEmpty());
    qputenv("XDG_RUNTIME_DIR", antes);
}

}  // namespace
