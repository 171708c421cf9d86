// Opening attachments against the stand-in service: names, extensions from the reply's type,
// failed and cut downloads, hostile names, launchers, and the private folder.
#include "zentu/chat/Adjuntos.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Escritorio.h"
#include "plataforma/Registro.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <gtest/gtest.h>

namespace {

struct EscritorioFalso : Escritorio {
    QStringList abiertos, mostrados;
    bool abrirArchivo(const QString& ruta) override {
        abiertos << ruta;
        return true;
    }
    bool mostrarEnCarpeta(const QString& ruta) override {
        mostrados << ruta;
        return true;
    }
};

// Every file under the folder (hidden ones included) with its content.
QMap<QString, QByteArray> foto(const QString& dir) {
    QMap<QString, QByteArray> m;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString r = it.next();
        QFile f(r);
        f.open(QIODevice::ReadOnly);
        m.insert(QDir(dir).relativeFilePath(r), f.readAll());
    }
    return m;
}

// Owner may read, write and enter; group and others nothing.
bool privada(const QString& dir) {
    const auto p = QFileInfo(dir).permissions();
    return (p & 0x7000) == 0x7000 && (p & 0x0077) == 0;
}

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Abrir : ::testing::Test {
    ServicioSimulado servicio;
    EscritorioFalso escritorio;
    QStringList lineas;
    QString dir;

    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        Escritorio::usar(&escritorio);
        Registro::observar([this](const QString& l) { lineas << l; });
        dir = Adjuntos::carpeta();
        ASSERT_FALSE(dir.isEmpty());
        QDir(dir).removeRecursively();
        dir = Adjuntos::carpeta();
    }
    void TearDown() override {
        Registro::observar({});
        Escritorio::usar(nullptr);
        QDir(dir).removeRecursively();
    }

    // The reply to GET /api/media/<id>.
    void guion(const QString& id, int estado, const QByteArray& cuerpo, const QString& tipo = {},
               std::optional<int> cortarTras = {}) {
        QJsonObject r{{"estado", estado}, {"base64", QString::fromLatin1(cuerpo.toBase64())}};
        if (!tipo.isEmpty()) r["cabeceras"] = QJsonObject{{"Content-Type", tipo}};
        if (cortarTras) r["cortarTras"] = *cortarTras;
        servicio.responder("GET", "/api/media/" + id, r);
    }
    ChatZentu::Adjunto adjunto(const QString& id, const QString& nombre) {
        return {QUrl(servicio.url() + "/api/media/" + id + "?token=secreto%2Fde%2Bprueba"), nombre, false, false};
    }
    // Downloads and waits for the outcome: the path, or empty.
    QString bajar(const ChatZentu::Adjunto& a) {
        bool hecho = false;
        QString ruta;
        QObject contexto;
        Adjuntos::bajar(a.url, a.nombre, &contexto, [&](QString r) {
            ruta = std::move(r);
            hecho = true;
        });
        EXPECT_TRUE(pruebas::esperarHasta([&] { return hecho; }));
        return ruta;
    }
};

}  // namespace

TEST_F(Abrir, GuardaConSuNombreYAbre) {
    const QByteArray pdf = "%PDF-1.4 informe";
    guion("m1", 200, pdf, "application/pdf");
    Adjuntos::abrir(adjunto("m1", "informe.pdf"));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !escritorio.abiertos.isEmpty(); }));
    EXPECT_EQ(escritorio.abiertos, QStringList{dir + "/informe.pdf"});
    EXPECT_EQ(leer(dir + "/informe.pdf"), pdf);
    // A plain GET whose only credential is the token in the address.
    const QJsonObject p = servicio.peticiones().last().toObject();
    EXPECT_EQ(p["metodo"].toString(), "GET");
    EXPECT_EQ(p["consulta"].toString(), "?token=secreto%2Fde%2Bprueba");
    EXPECT_FALSE(p["cabeceras"].toObject().contains("authorization"));
    // The folder is the user's alone.
    EXPECT_TRUE(privada(dir));
    EXPECT_EQ(QFileInfo(dir).fileName(), "zentu-adjuntos");
    EXPECT_TRUE(dir.startsWith(qEnvironmentVariable("XDG_CACHE_HOME")));
    // Opened again: fetched again, the copy replaced.
    guion("m1", 200, "segunda", "application/pdf");
    Adjuntos::abrir(adjunto("m1", "informe.pdf"));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return escritorio.abiertos.size() == 2; }));
    EXPECT_EQ(leer(dir + "/informe.pdf"), "segunda");
    EXPECT_EQ(foto(dir).keys(), QStringList{"informe.pdf"});
    for (const QString& l : lineas) EXPECT_FALSE(l.contains("secreto")) << l.toStdString();
}

TEST_F(Abrir, ExtensionDelTipoSoloSiElNombreNoLaTiene) {
    struct Caso {
        const char* nombre;
        const char* tipo;
        const char* archivo;
    };
    const Caso casos[] = {
        {"Imagen", "image/png", "Imagen.png"},
        {"Audio", "audio/mpeg", "Audio.mp3"},
        {"Archivo", "text/plain; charset=utf-8", "Archivo.txt"},
        {"Archivo", "", "Archivo"},                           // no type
        {"Archivo", "application/x-no-existe", "Archivo"},    // a type without extension
        {"Archivo", "application/octet-stream", "Archivo"},   // plain data says nothing
        {"foto.jpg", "image/png", "foto.jpg"},                 // the name's own extension stays
        {"informes/2024/ventas.pdf", "application/pdf", "informes-2024-ventas.pdf"},
    };
    int i = 0;
    for (const Caso& c : casos) {
        const QString id = QStringLiteral("t%1").arg(i++);
        guion(id, 200, "datos", QString::fromUtf8(c.tipo));
        EXPECT_EQ(bajar(adjunto(id, QString::fromUtf8(c.nombre))), dir + "/" + QString::fromUtf8(c.archivo)) << c.nombre;
    }
}

TEST_F(Abrir, RespuestasQueNoSonUn200CompletoNoAbrenNada) {
    // An older copy of the same name must survive a failed download and must not be opened.
    guion("m", 200, "copia buena", "application/pdf");
    ASSERT_EQ(bajar(adjunto("m", "informe.pdf")), dir + "/informe.pdf");
    const auto antes = foto(dir);
    struct Caso {
        const char* que;
        int estado;
        QByteArray cuerpo;
        std::optional<int> cortarTras;
    };
    const Caso casos[] = {
        {"404", 404, "no está", {}},
        {"204", 204, "", {}},
        {"500", 500, "error", {}},
        {"cortado a medias", 200, QByteArray(200000, 'x'), 1000},
        {"cortado sin cuerpo", 200, QByteArray(5000, 'y'), 0},
    };
    for (const Caso& c : casos) {
        lineas.clear();
        guion("m", c.estado, c.cuerpo, "application/pdf", c.cortarTras);
        Adjuntos::abrir(adjunto("m", "informe.pdf"));
        ASSERT_TRUE(pruebas::esperarHasta([&] { return !lineas.isEmpty(); })) << c.que;
        pruebas::girar(100);
        EXPECT_EQ(lineas, QStringList{"[chat] no se pudo bajar el adjunto"}) << c.que;
        EXPECT_EQ(foto(dir), antes) << c.que;
    }
    // Nothing at all listening there.
    lineas.clear();
    Adjuntos::abrir({QUrl("http://127.0.0.1:1/api/media/x?token=t"), "informe.pdf", false, false});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !lineas.isEmpty(); }));
    EXPECT_EQ(lineas, QStringList{"[chat] no se pudo bajar el adjunto"});
    EXPECT_TRUE(escritorio.abiertos.isEmpty());
    EXPECT_TRUE(escritorio.mostrados.isEmpty());
    EXPECT_EQ(foto(dir), antes);
}

TEST_F(Abrir, NombresHostilesQuedanDentroDeLaCarpeta) {
    // A file beside the folder that a name might try to reach.
    const QString vecino = QFileInfo(dir).path() + "/vecino.txt";
    QFile f(vecino);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("intacto");
    f.close();
    struct Caso {
        QString nombre;
        QString archivo;
    };
    const Caso casos[] = {
        {"", "Archivo"},
        {".", "Archivo"},
        {"..", "Archivo"},
        {"/", "-"},
        {"../vecino.txt", "..-vecino.txt"},
        {"../../../../etc/passwd", "..-..-..-..-etc-passwd"},
        {QString("a\nb\x01" "c\x7f.txt"), "abc.txt"},
        {QString(" \t\n"), "Archivo"},
        {QString(300, QChar(0x00F1)) + ".pdf", QString(98, QChar(0x00F1)) + ".pdf"},
    };
    int i = 0;
    for (const Caso& c : casos) {
        const QString id = QStringLiteral("h%1").arg(i++);
        guion(id, 200, "hostil", "application/octet-stream");
        const QString ruta = bajar(adjunto(id, c.nombre));
        EXPECT_EQ(ruta.toStdString(), (dir + "/" + c.archivo).toStdString()) << c.nombre.toStdString();
        EXPECT_EQ(QFileInfo(ruta).absolutePath(), dir);
        EXPECT_EQ(leer(ruta), "hostil");
    }
    EXPECT_EQ(leer(vecino), "intacto");
    QFile::remove(vecino);
    // Four of the names end up as "Archivo".
    EXPECT_EQ(foto(dir).size(), qsizetype(std::size(casos)) - 3);
}

TEST_F(Abrir, LanzadoresYGuionesSeMuestranEnSuCarpeta) {
    struct Caso {
        const char* nombre;
        QByteArray cuerpo;
        bool mostrar;
    };
    const Caso casos[] = {
        {"instalar.desktop", "[Desktop Entry]\nType=Application\nExec=sh -c 'rm -rf ~'\n", true},
        {"arreglo.sh", "#!/bin/sh\necho hola\n", true},
        {"sin-extension", "#!/bin/sh\necho hola\n", true},
        {"programa.py", "#!/usr/bin/env python3\nprint(1)\n", true},
        {"programa", QByteArray("\x7f" "ELF\x02\x01\x01\x00", 8) + QByteArray(120, '\0'), true},
        {"notas.txt", "solo texto\n", false},
        {"informe.pdf", "%PDF-1.4\n", false},
    };
    int i = 0;
    for (const Caso& c : casos) {
        escritorio.abiertos.clear();
        escritorio.mostrados.clear();
        const QString id = QStringLiteral("e%1").arg(i++);
        guion(id, 200, c.cuerpo);
        Adjuntos::abrir(adjunto(id, QString::fromUtf8(c.nombre)));
        ASSERT_TRUE(pruebas::esperarHasta([&] { return escritorio.abiertos.size() + escritorio.mostrados.size() == 1; }))
            << c.nombre;
        EXPECT_EQ(escritorio.mostrados.size(), c.mostrar ? 1 : 0) << c.nombre;
        // Never written as something that could run.
        EXPECT_FALSE(QFileInfo(dir + "/" + c.nombre).isExecutable()) << c.nombre;
    }
}

TEST(AdjuntosCarpeta, UnEnlaceEnSuLugarNoSeUsa) {
    const QString dir = Adjuntos::carpeta();
    ASSERT_FALSE(dir.isEmpty());
    QDir(dir).removeRecursively();
    const QString otro = QFileInfo(dir).path() + "/otro-sitio";
    QDir().mkpath(otro);
    ASSERT_TRUE(QFile::link(otro, dir));
    EXPECT_TRUE(Adjuntos::carpeta().isEmpty());
    QFile::remove(dir);
    QDir(otro).removeRecursively();
    // A folder made by someone else with open permissions is closed again.
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFileDevice::Permissions(0x7777));
    EXPECT_EQ(Adjuntos::carpeta(), dir);
    EXPECT_TRUE(privada(dir));
    QDir(dir).removeRecursively();
}
