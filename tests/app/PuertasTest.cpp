#include "comun/Ayudas.h"
#include "plataforma/Registro.h"
#include "zentu/app/Puertas.h"

#include <gtest/gtest.h>

namespace {

// Records which door action ran, as one word each.
struct Registro_ {
    QStringList hechos;
    bool enLlamada = false;
    bool chatVisible = false;

    Puertas::Acciones acciones() {
        Puertas::Acciones a;
        a.enLlamada = [this] { return enLlamada; };
        a.alternarLlamada = [this] { hechos << "llamada"; };
        a.abrirChat = [this] { hechos << "chat"; };
        a.chatVisible = [this] { return chatVisible; };
        a.notaDeVoz = [this] { hechos << "nota"; };
        a.conversarDesdeElChat = [this] { hechos << "conversar"; };
        a.mostrarDudas = [this](std::optional<qint64> id) {
            hechos << (id ? "dudas:" + QString::number(*id) : QStringLiteral("dudas"));
        };
        a.tarjetaCreditos = [this] { hechos << "creditos"; };
        a.tarjetaDia = [this] { hechos << "dia"; };
        a.mostrarAgentes = [this] { hechos << "agentes"; };
        return a;
    }
};

TEST(Puertas, Enlaces) {
    struct Caso {
        QString enlace;
        bool enLlamada, chatVisible;
        QString hecho;       // empty: nothing happens
        QString lineaHost;   // the host logged; null: nothing logged; "?": logged as leading nowhere
    };
    const QString nada;
    const std::vector<Caso> casos = {
        {"zuzadari://llamada", false, false, "llamada", "llamada"},
        {"zuzadari://llamada", true, false, nada, "llamada"},  // never hangs up
        {"zuzadari://chat", false, false, "chat", "chat"},
        {"zuzadari://nota", false, false, nada, "nota"},
        {"zuzadari://nota", false, true, "nota", "nota"},
        {"zuzadari://conversar", false, false, nada, "conversar"},
        {"zuzadari://conversar", false, true, "conversar", "conversar"},
        {"zuzadari://pendientes", false, false, "dudas", "pendientes"},
        {"zuzadari://duda/17", false, false, "dudas:17", "duda"},
        {"zuzadari://duda/abc", false, false, "dudas", "duda"},
        {"zuzadari://duda", false, false, "dudas", "duda"},
        {"zuzadari://duda/a/42", false, false, "dudas:42", "duda"},
        {"zuzadari://duda/17?x=1", false, false, "dudas:17", "duda"},
        {"zuzadari://duda/1.5", false, false, "dudas", "duda"},
        {"zuzadari://creditos", false, false, "creditos", "creditos"},
        {"zuzadari://dia", false, false, "dia", "dia"},
        {"zuzadari://agentes", false, false, "agentes", "agentes"},
        {"zuzadari://Chat", false, false, nada, "?"},      // hosts are compared exactly
        {"zuzadari://otro", false, false, nada, "?"},
        {"zuzadari:chat", false, false, nada, "?"},        // no host
        {"https://chat", false, false, nada, QString()},
        {"chat", false, false, nada, QString()},
        {"", false, false, nada, QString()},
    };
    for (const Caso& c : casos) {
        Registro_ r;
        r.enLlamada = c.enLlamada;
        r.chatVisible = c.chatVisible;
        QStringList lineas;
        Registro::observar([&](const QString& l) { lineas << l; });
        Puertas::abrir({c.enlace, "zuzadari://dia"}, r.acciones());
        Registro::observar({});
        EXPECT_EQ(r.hechos, c.hecho.isEmpty() ? QStringList() : QStringList{c.hecho}) << c.enlace.toStdString();
        if (c.lineaHost.isNull())
            EXPECT_TRUE(lineas.isEmpty()) << c.enlace.toStdString();
        else if (c.lineaHost == "?")
            EXPECT_EQ(lineas, QStringList{"[enlace] no lleva a ninguna parte, no se hace nada: " + c.enlace});
        else
            EXPECT_EQ(lineas, QStringList{"[enlace] abierto desde un widget: " + c.lineaHost}) << c.enlace.toStdString();
    }
    // The line says where the link came from.
    const std::pair<Puertas::Origen, QString> origenes[] = {
        {Puertas::Origen::widget, "[enlace] abierto desde un widget: creditos"},
        {Puertas::Origen::argumentos, "[enlace] abierto: creditos"},
        {Puertas::Origen::automatizacion, "[enlace] abierto desde la automatización: creditos"},
    };
    for (const auto& [origen, linea] : origenes) {
        Registro_ r;
        QStringList lineas;
        Registro::observar([&](const QString& l) { lineas << l; });
        Puertas::abrir({"zuzadari://creditos"}, r.acciones(), origen);
        Registro::observar({});
        EXPECT_EQ(lineas, QStringList{linea});
        EXPECT_EQ(r.hechos, QStringList{"creditos"});
    }
    Registro_ r;
    Puertas::abrir({}, r.acciones());
    EXPECT_TRUE(r.hechos.isEmpty());
}

TEST(Puertas, RutaAbsolutaDesdeLaCarpetaDeQuienLlama) {
    const std::pair<const char*, const char*> casos[] = {
        {":precios.txt", "/home/dueno/:precios.txt"},
        {":/iconos/logo.svg", "/home/dueno/:/iconos/logo.svg"},
        {"factura marzo.pdf", "/home/dueno/factura marzo.pdf"},
        {"./a/../b.txt", "/home/dueno/b.txt"},
        {"/tmp/x.pdf", "/tmp/x.pdf"},
        {"", ""},
    };
    for (const auto& [ruta, absoluta] : casos)
        EXPECT_EQ(Puertas::absoluta(ruta, "/home/dueno"), absoluta) << ruta;
    EXPECT_EQ(Puertas::absoluta("a.txt", "/"), "/a.txt");
}

TEST(Puertas, Citar) {
    EXPECT_EQ(Puertas::citar("uno\n\ndos"), "> uno\n> \n> dos\n\n");
    EXPECT_EQ(Puertas::citar("hola"), "> hola\n\n");
}

TEST(Puertas, Recibir) {
    struct Caso {
        QStringList archivos;
        QString texto;
        std::optional<QString> chatTexto, chatArchivo;
        QStringList lineas;
        int sonidos;
    };
    const std::vector<Caso> casos = {
        {{"/tmp/a.pdf", "/tmp/b.pdf"}, "y texto", std::nullopt, "/tmp/a.pdf", {"[servicios] archivo recibido"}, 0},
        {{}, "  uno\n\ndos \n", "> uno\n> \n> dos\n\n", std::nullopt, {"[servicios] texto recibido: 8 caracteres"}, 1},
        {{}, "ñandú 😀", "> ñandú 😀\n\n", std::nullopt, {"[servicios] texto recibido: 7 caracteres"}, 1},
        {{}, " \n\t ", std::nullopt, std::nullopt, {}, 0},
        {{}, "", std::nullopt, std::nullopt, {}, 0},
    };
    for (const Caso& c : casos) {
        std::optional<std::pair<std::optional<QString>, std::optional<QString>>> chat;
        int sonidos = 0;
        QStringList lineas;
        Registro::observar([&](const QString& l) { lineas << l; });
        Puertas::recibir(c.archivos, c.texto,
                         {[&](std::optional<QString> t, std::optional<QString> a) { chat.emplace(t, a); },
                          [&] { ++sonidos; }});
        Registro::observar({});
        EXPECT_EQ(lineas, c.lineas) << c.texto.toStdString();
        EXPECT_EQ(sonidos, c.sonidos) << c.texto.toStdString();
        if (!c.chatTexto && !c.chatArchivo) {
            EXPECT_FALSE(chat) << c.texto.toStdString();
        } else {
            ASSERT_TRUE(chat) << c.texto.toStdString();
            EXPECT_EQ(chat->first, c.chatTexto);
            EXPECT_EQ(chat->second, c.chatArchivo);
        }
    }
}

}  // namespace
