// File actions asked by the service, carried out in a temporary home folder against the stand-in
// service: each action's main path, the replies' texts, and hostile requests that must be
// refused without touching anything outside the destination.
#include "zentu/conexion/EnMiMac.h"

#include "comun/Ayudas.h"
#include "comun/Demo.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Escritorio.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"
#include "zentu/conexion/Enlazar.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QMutex>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <atomic>
#include <memory>

namespace {

QString raiz() { return qEnvironmentVariable("ZENTU_CASA_PRUEBA"); }
QString casa() { return raiz() + QStringLiteral("/casa"); }

// HOME and the XDG user folders must be in place before the component first looks them up.
// Downloads and Documents get Spanish names, as xdg-user-dirs gives them on a Spanish desktop.
class CasaTemporal : public ::testing::Environment {
public:
    void SetUp() override {
        QDir().mkpath(casa());
        qputenv("HOME", casa().toUtf8());
        QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DOWNLOAD_DIR=\"$HOME/Descargas\"\nXDG_DOCUMENTS_DIR=\"$HOME/Documentos\"\n");
    }
};
const auto* const entorno = ::testing::AddGlobalTestEnvironment(new CasaTemporal);

// Records what would have been handed to the desktop instead of launching anything.
class EscritorioFalso : public Escritorio {
public:
    bool abrirArchivo(const QString& ruta) override { return anotar("archivo", ruta) && !nadaAbre; }
    bool abrirUrl(const QUrl& url) override { return anotar("url", url.toString()); }
    bool mostrarEnCarpeta(const QString& ruta) override { return anotar("mostrar", ruta); }

    std::atomic<bool> nadaAbre{false};  // no application opens files

    QStringList llamadas() {
        QMutexLocker l(&m_);
        return llamadas_;
    }
    void olvidar() {
        QMutexLocker l(&m_);
        llamadas_.clear();
    }

private:
    bool anotar(const char* que, const QString& valor) {
        QMutexLocker l(&m_);
        llamadas_ << QLatin1String(que) + QLatin1Char(' ') + valor;
        return true;
    }
    QMutex m_;
    QStringList llamadas_;
};

// Every file and folder under the test root, with sizes, to show that nothing else changed.
QStringList arbol() {
    QStringList lista;
    QDirIterator it(raiz(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        lista << it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().isDir() ? -1 : it.fileInfo().size());
    }
    lista.sort();
    return lista;
}

void escribir(const QString& ruta, const QByteArray& datos) {
    QDir().mkpath(QFileInfo(ruta).path());
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(datos);
}

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no existe>");
}

QJsonObject falla(const QString& texto) { return QJsonObject{{"ok", false}, {"error", texto}}; }
QJsonObject bien(const QString& ruta) { return QJsonObject{{"ok", true}, {"ruta", ruta}}; }

class EnMiMacTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        servicio_ = new ServicioSimulado();
        ASSERT_TRUE(servicio_->arrancar());
    }
    static void TearDownTestSuite() {
        delete servicio_;
        servicio_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(servicio_->enMarcha());
        for (const QString& sub : QDir(casa()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            QFileInfo info(casa() + QLatin1Char('/') + sub);
            if (info.isDir()) QDir(info.filePath()).removeRecursively(); else QFile::remove(info.filePath());
        }
        QDir(EnMiMac::cache()).removeRecursively();
        for (const char* c : {"Descargas", "Documentos", "Desktop", "Pictures"}) QDir(casa()).mkpath(QLatin1String(c));
        servicio_->olvidarPeticiones();
        Escritorio::usar(&escritorio_);
        const Cuenta cuenta{servicio_->url(), QStringLiteral("token-bueno"), {}, {}};
        canal_ = std::make_unique<CanalEnVivo>(cuenta, reloj_);
        mac_ = std::make_unique<EnMiMac>(cuenta, *canal_);
    }
    void TearDown() override {
        mac_.reset();
        canal_.reset();
        Escritorio::usar(nullptr);
    }

    // Sends one request through the handler and waits for its reply.
    QJsonObject pedir(std::optional<QJsonValue> datos) {
        auto respuesta = std::make_shared<std::optional<QJsonObject>>();
        auto mutex = std::make_shared<QMutex>();
        mac_->atender(std::move(datos), [respuesta, mutex](QJsonObject r) {
            QMutexLocker l(mutex.get());
            *respuesta = std::move(r);
        });
        const bool llego = pruebas::esperarHasta([&] {
            QMutexLocker l(mutex.get());
            return respuesta->has_value();
        }, 20000);
        if (!llego) return QJsonObject{{"sin", "respuesta"}};
        pruebas::girar(30);  // let the queued desktop calls run
        return **respuesta;
    }

    static ServicioSimulado* servicio_;
    EscritorioFalso escritorio_;
    RelojVirtual reloj_;
    std::unique_ptr<CanalEnVivo> canal_;  // not connected unless a test connects it
    std::unique_ptr<EnMiMac> mac_;
};
ServicioSimulado* EnMiMacTest::servicio_ = nullptr;

// ---------------------------------------------------------------- folders, names, search

TEST_F(EnMiMacTest, LosAliasVanALasCarpetasXdgDelDueno) {
    const struct {
        const char* destino;
        QString carpeta;
    } casos[] = {
        {"Descargas", casa() + "/Descargas"},   {"downloads", casa() + "/Descargas"},
        {"  Documentos\n", casa() + "/Documentos"}, {"Mis Documentos", casa() + "/Documentos"},
        {"Escritorio", casa() + "/Desktop"},    {"Imágenes", casa() + "/Pictures"},
        {"imagenes", casa() + "/Pictures"},     {"FOTOS", casa() + "/Pictures"},
    };
    for (const auto& c : casos) EXPECT_EQ(EnMiMac::carpeta(QString::fromUtf8(c.destino)), c.carpeta) << c.destino;

    QDir(casa()).mkpath("Desktop/Proyectos");
    EXPECT_EQ(EnMiMac::carpeta("Proyectos"), casa() + "/Desktop/Proyectos");
    EXPECT_EQ(EnMiMac::carpeta("Clientes/2026"), casa() + "/Documentos/Clientes/2026");
    EXPECT_TRUE(QFileInfo(casa() + "/Documentos/Clientes/2026").isDir());
    EXPECT_EQ(EnMiMac::carpeta("~/a/b/c"), casa() + "/a/b/c");
    EXPECT_TRUE(QFileInfo(casa() + "/a/b/c").isDir());
    EXPECT_THROW(EnMiMac::carpeta(" \n"), FalloZentu);
}

TEST_F(EnMiMacTest, NombresLibresYBusquedaDelOrigen) {
    const QString factura = casa() + "/Descargas/factura.pdf";
    EXPECT_EQ(EnMiMac::libre(factura), factura);
    escribir(factura, "1");
    EXPECT_EQ(EnMiMac::libre(factura), casa() + "/Descargas/factura 2.pdf");
    escribir(casa() + "/Descargas/factura 2.pdf", "2");
    EXPECT_EQ(EnMiMac::libre(factura), casa() + "/Descargas/factura 3.pdf");
    escribir(casa() + "/Descargas/notas", "n");
    EXPECT_EQ(EnMiMac::libre(casa() + "/Descargas/notas"), casa() + "/Descargas/notas 2");

    escribir(casa() + "/Descargas/Informe.PDF", "viejo");
    EXPECT_EQ(EnMiMac::encontrar("informe"), casa() + "/Descargas/Informe.PDF");
    escribir(casa() + "/Documentos/informe.docx", "nuevo");
    QFile nuevo(casa() + "/Documentos/informe.docx");
    ASSERT_TRUE(nuevo.open(QIODevice::ReadWrite));
    nuevo.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60), QFileDevice::FileModificationTime);
    nuevo.close();
    EXPECT_EQ(EnMiMac::encontrar(" informe "), casa() + "/Documentos/informe.docx");
    EXPECT_EQ(EnMiMac::encontrar("~/Descargas/notas"), casa() + "/Descargas/notas");
    EXPECT_EQ(EnMiMac::encontrar("nada"), std::nullopt);
    EXPECT_EQ(EnMiMac::encontrar("/no/existe"), std::nullopt);
}

// ---------------------------------------------------------------- each action

TEST_F(EnMiMacTest, GuardarDescargaEnDescargasConNombreLibre) {
    servicio_->ponerArchivo("f1", "primera");
    servicio_->ponerArchivo("f2", "segunda");
    EXPECT_EQ(pedir(QJsonObject{{"accion", "guardar"}, {"id", "f1"}, {"nombre", "factura.pdf"}}),
              bien("~/Descargas/factura.pdf"));
    EXPECT_EQ(pedir(QJsonObject{{"accion", "guardar"}, {"id", "f2"}, {"nombre", "factura.pdf"}}),
              bien("~/Descargas/factura 2.pdf"));
    EXPECT_EQ(leer(casa() + "/Descargas/factura.pdf"), "primera");
    EXPECT_EQ(leer(casa() + "/Descargas/factura 2.pdf"), "segunda");
    EXPECT_TRUE(escritorio_.llamadas().contains("mostrar " + casa() + "/Descargas/factura 2.pdf"));

    // Only the bearer token goes with the download, to the path of that one file.
    const QJsonArray peticiones = servicio_->peticiones();
    ASSERT_EQ(peticiones.size(), 2);
    const QJsonObject primera = peticiones[0].toObject();
    EXPECT_EQ(primera["metodo"].toString(), "GET");
    EXPECT_EQ(primera["ruta"].toString(), "/api/files/download/f1");
    const QJsonObject cabeceras = primera["cabeceras"].toObject();
    EXPECT_EQ(cabeceras["authorization"].toString(), "Bearer token-bueno");
    EXPECT_FALSE(cabeceras.contains("x-zentu-cliente"));

    // Into a named folder, and with the file names the folder already holds left alone.
    servicio_->ponerArchivo("f3", "tercera");
    EXPECT_EQ(pedir(QJsonObject{{"accion", "guardar"}, {"id", "f3"}, {"nombre", "plano.png"}, {"destino", "fotos"}}),
              bien("~/Pictures/plano.png"));
    EXPECT_EQ(leer(casa() + "/Pictures/plano.png"), "tercera");
    // The download and the file work run off the main thread, and the reply is given from there.
    servicio_->ponerArchivo("f4", "cuarta");
    std::atomic<QThread*> hilo{nullptr};
    mac_->atender(QJsonObject{{"accion", "guardar"}, {"id", "f4"}, {"nombre", "hilo.txt"}},
                  [&hilo](QJsonObject) { hilo = QThread::currentThread(); });
    ASSERT_TRUE(pruebas::esperarHasta([&] { return hilo.load() != nullptr; }, 10000));
    EXPECT_NE(hilo.load(), qApp->thread());
    QFile::remove(casa() + "/Descargas/hilo.txt");

    // No hidden leftovers of the downloads.
    EXPECT_EQ(QDir(casa() + "/Descargas").entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(EnMiMacTest, AbrirReemplazaLaCopiaDeLaCacheYLaAbre) {
    servicio_->ponerArchivo("a1", "uno");
    servicio_->ponerArchivo("a2", "dos");
    const QString ruta = EnMiMac::cache() + "/menu.pdf";
    EXPECT_EQ(ruta, qEnvironmentVariable("XDG_CACHE_HOME") + "/Zentu/abiertos/menu.pdf");
    EXPECT_EQ(pedir(QJsonObject{{"accion", "abrir"}, {"id", "a1"}, {"nombre", "menu.pdf"}}), bien(ruta));
    EXPECT_EQ(pedir(QJsonObject{{"accion", "abrir"}, {"id", "a2"}, {"nombre", "menu.pdf"}}), bien(ruta));
    EXPECT_EQ(QDir(EnMiMac::cache()).entryList(QDir::Files | QDir::Hidden), QStringList{"menu.pdf"});
    EXPECT_EQ(leer(ruta), "dos");
    EXPECT_EQ(escritorio_.llamadas(), (QStringList{"archivo " + ruta, "archivo " + ruta}));
    EXPECT_EQ(QFileInfo(EnMiMac::cache()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
}

TEST_F(EnMiMacTest, UrlAbreSoloDireccionesWeb) {
    EXPECT_EQ(pedir(QJsonObject{{"accion", "url"}, {"url", "https://zentu.ai/panel?x=1"}}),
              bien("https://zentu.ai/panel?x=1"));
    EXPECT_EQ(pedir(QJsonObject{{"accion", "url"}, {"url", "http://host.docker.internal:3000/a"}}),
              bien("http://localhost:3000/a"));
    EXPECT_EQ(escritorio_.llamadas(),
              (QStringList{"url https://zentu.ai/panel?x=1", "url http://localhost:3000/a"}));
    escritorio_.olvidar();
    for (const QJsonValue& malo : {QJsonValue("file:///etc/passwd"), QJsonValue("javascript:alert(1)"),
                                  QJsonValue("ssh://servidor"), QJsonValue("no es una dirección"),
                                  QJsonValue("http://"), QJsonValue(5), QJsonValue()}) {
        QJsonObject pedido{{"accion", "url"}};
        if (!malo.isNull()) pedido["url"] = malo;
        EXPECT_EQ(pedir(pedido), falla("dirección no válida")) << malo.toString().toStdString();
    }
    EXPECT_TRUE(escritorio_.llamadas().isEmpty());
}

TEST_F(EnMiMacTest, MoverYCopiar) {
    escribir(casa() + "/Descargas/contrato.pdf", "contrato");
    escribir(casa() + "/Desktop/foto.jpg", "foto");

    // Moving into the folder it is in gives it the next free name instead of failing.
    EXPECT_EQ(pedir(QJsonObject{{"accion", "mover"}, {"origen", "contrato"}, {"destino", "Descargas"}}),
              bien("~/Descargas/contrato 2.pdf"));
    EXPECT_FALSE(QFile::exists(casa() + "/Descargas/contrato.pdf"));
    EXPECT_EQ(leer(casa() + "/Descargas/contrato 2.pdf"), "contrato");

    EXPECT_EQ(pedir(QJsonObject{{"accion", "copiar"}, {"origen", "foto.jpg"}, {"destino", "Clientes"}}),
              bien("~/Documentos/Clientes/foto.jpg"));
    EXPECT_EQ(leer(casa() + "/Desktop/foto.jpg"), "foto");
    EXPECT_EQ(leer(casa() + "/Documentos/Clientes/foto.jpg"), "foto");
    EXPECT_TRUE(escritorio_.llamadas().contains("mostrar " + casa() + "/Documentos/Clientes/foto.jpg"));

    // A folder is copied whole, links as links.
    escribir(casa() + "/Documentos/Obra/planos/a.txt", "a");
    QFile::link("a.txt", casa() + "/Documentos/Obra/planos/enlace");
    EXPECT_EQ(pedir(QJsonObject{{"accion", "copiar"}, {"origen", "~/Documentos/Obra"}, {"destino", "~/Respaldo"}}),
              bien("~/Respaldo/Obra"));
    EXPECT_EQ(leer(casa() + "/Respaldo/Obra/planos/a.txt"), "a");
    EXPECT_EQ(QFileInfo(casa() + "/Respaldo/Obra/planos/enlace").symLinkTarget(), casa() + "/Respaldo/Obra/planos/a.txt");

    EXPECT_EQ(pedir(QJsonObject{{"accion", "mover"}, {"origen", "/tmp/no-hay-tal-cosa"}, {"destino", "Descargas"}}),
              falla("no encontré «/tmp/no-hay-tal-cosa» en este equipo (busqué en Descargas, Escritorio y "
                    "Documentos)"));
    EXPECT_EQ(pedir(QJsonObject{{"accion", "copiar"}, {"destino", "Descargas"}}),
              falla("no encontré «» en este equipo (busqué en Descargas, Escritorio y Documentos)"));
    EXPECT_EQ(pedir(QJsonObject{{"accion", "copiar"}, {"origen", "foto"}}), falla("falta la carpeta de destino"));
}

TEST_F(EnMiMacTest, RespuestasDeFallo) {
    servicio_->ponerArchivo("f", "x");
    const struct {
        std::optional<QJsonValue> datos;
        QString error;
    } casos[] = {
        {std::nullopt, "pedido vacío"},
        {QJsonValue("abrir"), "pedido vacío"},
        {QJsonArray{"abrir"}, "pedido vacío"},
        {QJsonObject{{"accion", "borrar"}}, "no sé hacer «borrar»"},
        {QJsonObject{{"accion", "Abrir"}, {"id", "f"}, {"nombre", "a"}}, "no sé hacer «Abrir»"},
        {QJsonObject{}, "no sé hacer «»"},
        {QJsonObject{{"accion", 3}}, "no sé hacer «»"},
        {QJsonObject{{"accion", "abrir"}, {"nombre", "a.pdf"}}, "falta el archivo"},
        {QJsonObject{{"accion", "guardar"}, {"id", "f"}, {"nombre", 7}}, "falta el archivo"},
        {QJsonObject{{"accion", "guardar"}, {"id", "no-existe"}, {"nombre", "a.pdf"}},
         "el servidor no dio el archivo (404)"},
        {QJsonObject{{"accion", "guardar"}, {"id", "f"}, {"nombre", "a.pdf"}, {"destino", "  "}},
         "falta la carpeta de destino"},
    };
    std::atomic<int> hechos{0};
    mac_->alHacer = [&] {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        ++hechos;
    };
    QStringList registro;
    QMutex m;
    Registro::observar([&](const QString& linea) {
        QMutexLocker l(&m);
        registro << linea;
    });
    const QStringList antes = arbol();
    for (const auto& c : casos) {
        EXPECT_EQ(pedir(c.datos), falla(c.error)) << c.error.toStdString();
    }
    Registro::observar({});
    EXPECT_EQ(arbol(), antes);
    EXPECT_EQ(hechos, 0);
    EXPECT_TRUE(registro.contains("[mac] acción pedida: borrar"));
    EXPECT_TRUE(registro.contains("[mac] no se pudo: el servidor no dio el archivo (404)"));
    EXPECT_FALSE(registro.contains("[mac] no se pudo: pedido vacío"));

    EXPECT_EQ(pedir(QJsonObject{{"accion", "guardar"}, {"id", "f"}, {"nombre", "a.pdf"}}), bien("~/Descargas/a.pdf"));
    EXPECT_EQ(hechos, 1);
}

// ---------------------------------------------------------------- hostile requests

TEST_F(EnMiMacTest, NombresHostilesNoSalenDeLaCarpeta) {
    servicio_->ponerArchivo("f", "malicioso");
    escribir(casa() + "/.bashrc", "mio");
    const QStringList antes = arbol();
    for (const QString& nombre : {QString(""), QString("  "), QString("."), QString(".."), QString("a/../../b"),
                                  QString("../.bashrc"), QString("/etc/passwd"), QString("x") + QChar(0) + "y"}) {
        for (const char* accion : {"guardar", "abrir"}) {
            EXPECT_EQ(pedir(QJsonObject{{"accion", accion}, {"id", "f"}, {"nombre", nombre}, {"destino", "~/nueva/sub"}}),
                      falla("nombre de archivo no válido"))
                << accion << " " << nombre.toStdString();
        }
    }
    EXPECT_EQ(arbol(), antes);
    EXPECT_EQ(leer(casa() + "/.bashrc"), "mio");
    EXPECT_EQ(servicio_->peticiones().size(), 0);
}

TEST_F(EnMiMacTest, ElIdEsUnSoloTramoDeLaRuta) {
    // Ids that would climb out of the download path or add a query travel escaped, as one
    // segment, and name exactly that file.
    const struct {
        QString id;
        QString ruta;
    } casos[] = {
        {"../../api/dudas/canal", "/api/files/download/..%2F..%2Fapi%2Fdudas%2Fcanal"},
        {"x?token=1#y", "/api/files/download/x%3Ftoken%3D1%23y"},
        {"a b/ñ", "/api/files/download/a%20b%2F%C3%B1"},
    };
    int n = 0;
    for (const auto& c : casos) {
        servicio_->ponerArchivo(c.id, c.id.toUtf8());
        servicio_->olvidarPeticiones();
        const QString nombre = QStringLiteral("d%1.txt").arg(++n);
        EXPECT_EQ(pedir(QJsonObject{{"accion", "guardar"}, {"id", c.id}, {"nombre", nombre}}),
                  bien("~/Descargas/" + nombre));
        EXPECT_EQ(leer(casa() + "/Descargas/" + nombre), c.id.toUtf8());
        const QJsonArray p = servicio_->peticiones();
        ASSERT_EQ(p.size(), 1);
        EXPECT_EQ(p[0].toObject()["ruta"].toString(), c.ruta);
        EXPECT_EQ(p[0].toObject()["consulta"].toString(), "");
    }
    servicio_->olvidarPeticiones();
    for (const QString& id : {QString(""), QString("."), QString(".."), QString("a") + QChar(0)}) {
        EXPECT_EQ(pedir(QJsonObject{{"accion", "guardar"}, {"id", id}, {"nombre", "x.txt"}}), falla("falta el archivo"));
    }
    EXPECT_EQ(servicio_->peticiones().size(), 0);
}

TEST_F(EnMiMacTest, OrigenesPeligrososSeRechazan) {
    escribir(casa() + "/Documentos/Proyecto/plan.txt", "plan");
    escribir(casa() + "/Descargas/a.txt", "a");
    const QStringList antes = arbol();
    const QString raizOCasa = "no muevo ni copio «%1»: es la raíz o tu carpeta personal";
    const struct {
        const char* accion;
        QString origen;
        QString destino;
        QString error;
    } casos[] = {
        {"mover", "~", "Descargas", raizOCasa.arg("~")},
        {"copiar", "~/", "/tmp/zentu-nunca", raizOCasa.arg("~/")},
        {"mover", "/", "Descargas", raizOCasa.arg("/")},
        {"copiar", "~/..", "Respaldo", raizOCasa.arg("~/..")},
        {"mover", casa() + "/Documentos/..", "Respaldo", raizOCasa.arg(casa() + "/Documentos/..")},
        {"copiar", "~/Documentos/Proyecto", "~/Documentos/Proyecto/copia",
         "la carpeta de destino está dentro de «~/Documentos/Proyecto»"},
        {"mover", "Proyecto", "~/Documentos/Proyecto", "la carpeta de destino está dentro de «Proyecto»"},
        {"copiar", "~/Documentos", "Documentos/Proyecto/x", "la carpeta de destino está dentro de «~/Documentos»"},
        {"copiar", QString("a") + QChar(0) + "/../a.txt", "Respaldo",
         QString("no encontré «a") + QChar(0xFFFD) +
             "/../a.txt» en este equipo (busqué en Descargas, Escritorio y Documentos)"},
        {"copiar", "a.txt", QString("Res") + QChar(0) + "/x", "carpeta de destino no válida"},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(pedir(QJsonObject{{"accion", c.accion}, {"origen", c.origen}, {"destino", c.destino}}),
                  falla(c.error))
            << c.accion << " " << c.origen.toStdString();
    }
    EXPECT_EQ(arbol(), antes);
    EXPECT_FALSE(QFile::exists("/tmp/zentu-nunca"));
}

TEST_F(EnMiMacTest, GuardadosSimultaneosDelMismoNombreNoSePisan) {
    constexpr int kVeces = 8;
    for (int i = 0; i < kVeces; ++i) servicio_->ponerArchivo(QString::number(i), QByteArray(20000, char('a' + i)));
    escribir(casa() + "/Descargas/informe.pdf", "del dueño");

    auto mutex = std::make_shared<QMutex>();
    auto respuestas = std::make_shared<QList<QJsonObject>>();
    for (int i = 0; i < kVeces; ++i) {
        mac_->atender(QJsonObject{{"accion", "guardar"}, {"id", QString::number(i)}, {"nombre", "informe.pdf"}},
                      [mutex, respuestas](QJsonObject r) {
                          QMutexLocker l(mutex.get());
                          respuestas->append(r);
                      });
    }
    // Two copies at once of one file name into one folder, too.
    escribir(casa() + "/Desktop/lista.txt", "lista");
    for (int i = 0; i < 2; ++i) {
        mac_->atender(QJsonObject{{"accion", "copiar"}, {"origen", "lista"}, {"destino", "Descargas"}},
                      [mutex, respuestas](QJsonObject r) {
                          QMutexLocker l(mutex.get());
                          respuestas->append(r);
                      });
    }
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        QMutexLocker l(mutex.get());
        return respuestas->size() == kVeces + 2;
    }, 30000));

    QSet<QString> rutas;
    for (const QJsonObject& r : *respuestas) {
        EXPECT_TRUE(r["ok"].toBool()) << r["error"].toString().toStdString();
        rutas.insert(r["ruta"].toString());
    }
    EXPECT_EQ(rutas.size(), kVeces + 2);
    EXPECT_FALSE(rutas.contains("~/Descargas/informe.pdf"));
    EXPECT_EQ(leer(casa() + "/Descargas/informe.pdf"), "del dueño");
    QSet<QByteArray> contenidos;
    for (const QString& r : rutas) {
        if (r.contains("informe")) contenidos.insert(leer(casa() + r.mid(1)));
        else EXPECT_EQ(leer(casa() + r.mid(1)), "lista");
    }
    EXPECT_EQ(contenidos.size(), kVeces);
    EXPECT_EQ(QDir(casa() + "/Descargas").entryList(QDir::Files | QDir::Hidden).size(), kVeces + 3);
}

TEST_F(EnMiMacTest, UnaDescargaCortadaNoDejaArchivo) {
    const QByteArray grande(4 * 1024 * 1024, 'z');
    servicio_->responder("GET", "/api/files/download/grande",
                         QJsonObject{{"estado", 200},
                                     {"base64", QString::fromLatin1(grande.toBase64())},
                                     {"cortarTras", 1024 * 1024}});
    const QJsonObject r = pedir(QJsonObject{{"accion", "guardar"}, {"id", "grande"}, {"nombre", "video.mp4"}});
    EXPECT_FALSE(r["ok"].toBool());
    EXPECT_FALSE(r["error"].toString().isEmpty());
    EXPECT_EQ(QDir(casa() + "/Descargas").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{});

    servicio_->responder("GET", "/api/files/download/grande",
                         QJsonObject{{"estado", 200},
                                     {"base64", QString::fromLatin1(grande.toBase64())},
                                     {"cortarTras", 1000}});
    EXPECT_FALSE(pedir(QJsonObject{{"accion", "abrir"}, {"id", "grande"}, {"nombre", "video.mp4"}})["ok"].toBool());
    EXPECT_EQ(QDir(EnMiMac::cache()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
}


// ---------------------------------------------------------------- over the live channel

int holas(ServicioSimulado& servicio) {
    int n = 0;
    for (const QJsonValue& e : servicio.eventos()) {
        const QJsonObject o = e.toObject();
        if (o["evento"].toString() == "mac:hola") {
            EXPECT_EQ(o["args"].toArray(), QJsonArray{QJsonObject{}});
            EXPECT_FALSE(o["conAck"].toBool());
            ++n;
        }
    }
    return n;
}

TEST_F(EnMiMacTest, SeAnunciaAlCrearseYEnCadaConexion) {
    servicio_->olvidarEventos();
    canal_->conectar();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return canal_->listo(); }, 10000));
    // The announcement queued at creation, then the one of the connection.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return holas(*servicio_) == 2; }, 5000));

    servicio_->desconectarTodos();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !canal_->listo(); }, 5000));
    for (int i = 0; i < 40 && !canal_->listo(); ++i) {
        reloj_.avanzar(1);
        pruebas::esperarHasta([&] { return canal_->listo(); }, 250);
    }
    ASSERT_TRUE(canal_->listo());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return holas(*servicio_) == 3; }, 5000));
    pruebas::girar(200);
    EXPECT_EQ(holas(*servicio_), 3);

    // Once the component is gone, a reconnection announces nothing and requests are refused.
    mac_.reset();
    servicio_->desconectarTodos();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !canal_->listo(); }, 5000));
    for (int i = 0; i < 40 && !canal_->listo(); ++i) {
        reloj_.avanzar(1);
        pruebas::esperarHasta([&] { return canal_->listo(); }, 250);
    }
    ASSERT_TRUE(canal_->listo());
    pruebas::girar(200);
    EXPECT_EQ(holas(*servicio_), 3);
    const QJsonObject r = servicio_->pedir("mac:accion", QJsonArray{QJsonObject{{"accion", "url"}, {"url", "https://a.mx"}}});
    EXPECT_EQ(r["respuesta"].toArray(), QJsonArray{falla("pedido vacío")});
    EXPECT_TRUE(escritorio_.llamadas().isEmpty());
}

TEST_F(EnMiMacTest, AccionesPedidasPorElServicio) {
    int hechos = 0;
    mac_->alHacer = [&] { ++hechos; };
    canal_->conectar();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return canal_->listo(); }, 10000));

    servicio_->ponerArchivo("doc-7", "contenido del servicio");
    const auto pedirAlServicio = [&](const QJsonArray& args) {
        const QJsonObject r = servicio_->pedir("mac:accion", args, 20000);
        EXPECT_TRUE(r["ok"].toBool()) << r["error"].toString().toStdString();
        return r["respuesta"].toArray();
    };
    EXPECT_EQ(pedirAlServicio({QJsonObject{{"accion", "guardar"}, {"id", "doc-7"}, {"nombre", "contrato.pdf"},
                                           {"destino", "Documentos"}}}),
              QJsonArray{bien("~/Documentos/contrato.pdf")});
    EXPECT_EQ(leer(casa() + "/Documentos/contrato.pdf"), "contenido del servicio");
    EXPECT_EQ(hechos, 1);

    EXPECT_EQ(pedirAlServicio({QJsonObject{{"accion", "abrir"}, {"id", "doc-7"}, {"nombre", "contrato.pdf"}}}),
              QJsonArray{bien(EnMiMac::cache() + "/contrato.pdf")});
    EXPECT_EQ(pedirAlServicio({QJsonObject{{"accion", "copiar"}, {"origen", "contrato"}, {"destino", "Escritorio"}}}),
              QJsonArray{bien("~/Desktop/contrato.pdf")});
    EXPECT_EQ(pedirAlServicio({QJsonObject{{"accion", "mover"}, {"origen", "~/Desktop/contrato.pdf"},
                                           {"destino", "Descargas"}}}),
              QJsonArray{bien("~/Descargas/contrato.pdf")});
    EXPECT_EQ(pedirAlServicio({QJsonObject{{"accion", "url"}, {"url", "https://zentu.ai"}}}),
              QJsonArray{bien("https://zentu.ai")});
    EXPECT_EQ(hechos, 5);

    EXPECT_EQ(pedirAlServicio({QJsonObject{{"accion", "guardar"}, {"id", "no-hay"}, {"nombre", "x.pdf"}}}),
              QJsonArray{falla("el servidor no dio el archivo (404)")});
    EXPECT_EQ(pedirAlServicio({"texto"}), QJsonArray{falla("pedido vacío")});
    EXPECT_EQ(pedirAlServicio({}), QJsonArray{falla("pedido vacío")});
    EXPECT_EQ(hechos, 5);
}

}  // namespace

// Opening a file that no application of this computer opens fails, and says so: the file is
// there, but the service is never told it was opened.
TEST_F(EnMiMacTest, AbrirLoQueNadaAbreFalla) {
    servicio_->ponerArchivo("b1", "datos");
    escritorio_.nadaAbre = true;
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    const QJsonObject r = pedir(QJsonObject{{"accion", "abrir"}, {"id", "b1"}, {"nombre", "plano.dwg"}});
    Registro::observar({});
    escritorio_.nadaAbre = false;
    EXPECT_EQ(r, falla("ninguna aplicación de este equipo abre «plano.dwg»"));
    EXPECT_EQ(escritorio_.llamadas(), QStringList{"archivo " + EnMiMac::cache() + "/plano.dwg"});
    EXPECT_TRUE(lineas.contains("[mac] no se pudo: ninguna aplicación de este equipo abre «plano.dwg»"));
}

// The demo's «abrir» order on a desktop where nothing opens the business's price list: the demo
// hears that it could not be opened, never that it was.
TEST(EnMiMacEnLaDemo, LaDemoSabeQueNadaLoAbrio) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "el abridor del escritorio necesita una pantalla";
    QTemporaryDir vacio;
    const std::pair<const char*, QString> variables[] = {{"XDG_DATA_HOME", vacio.path() + "/datos"},
                                                         {"XDG_DATA_DIRS", vacio.path() + "/sistema"},
                                                         {"XDG_CONFIG_DIRS", vacio.path() + "/etc"}};
    std::vector<std::pair<const char*, std::optional<QByteArray>>> antes;
    for (const auto& [v, valor] : variables) {
        antes.emplace_back(v, qEnvironmentVariableIsSet(v) ? std::optional<QByteArray>(qgetenv(v)) : std::nullopt);
        qputenv(v, valor.toUtf8());
    }
    // The types of files stay the machine's; only its applications are left out.
    QDir().mkpath(vacio.path() + "/sistema");
    QFile::link("/usr/share/mime", vacio.path() + "/sistema/mime");
    const QByteArray escritorioAntes = qgetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("XDG_CURRENT_DESKTOP");
    Escritorio::usar(nullptr);

    QTemporaryDir carpeta;
    Demo demo;
    ASSERT_TRUE(demo.arrancar(carpeta.path()));
    const auto codigo = API::leerCodigo(demo.codigo);
    const Cuenta cuenta = pruebas::esperar(API::canjear(codigo.url, codigo.codigo));
    CanalEnVivo canal(cuenta);
    EnMiMac mac(cuenta, canal);
    canal.conectar();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return canal.listo(); }, 15000));
    demo.orden("abrir");
    EXPECT_TRUE(demo.esperarLinea("Zentu AI no pudo abrirlo: ninguna aplicación de este equipo abre «precios.txt»"))
        << demo.lineas().join('\n').toStdString();
    EXPECT_FALSE(demo.lineas().join('\n').contains("Zentu AI abrió"));

    for (const auto& [v, valor] : antes) {
        if (valor) qputenv(v, *valor);
        else qunsetenv(v);
    }
    if (!escritorioAntes.isEmpty()) qputenv("XDG_CURRENT_DESKTOP", escritorioAntes);
}
