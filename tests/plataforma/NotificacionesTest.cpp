// The desktop notifications against a notification server on the tests' own session bus.
#include "plataforma/Notificaciones.h"

#include "comun/Ayudas.h"
#include "comun/ServidorAvisos.h"

#include <QFile>
#include <gtest/gtest.h>

using pruebas::esperar;
using pruebas::esperarHasta;
using pruebas::girar;

namespace {

Notificaciones::Aviso aviso(const QString& identificador, const QString& titulo, const QString& categoria = {}) {
    Notificaciones::Aviso a;
    a.identificador = identificador;
    a.titulo = titulo;
    a.categoria = categoria;
    a.datos = {{"tipo", "x"}, {"id", identificador}};
    return a;
}

std::vector<Notificaciones::Categoria> categorias() {
    return {{"c", {Notificaciones::Accion{"escribir", "Escribir", true, "Mandar", "Algo", false},
                   Notificaciones::Accion{"no", "No", false, {}, {}, true}}}};
}

}  // namespace

TEST(Notificaciones, ElMismoIdentificadorReemplazaYRetirarCierra) {
    ServidorAvisos servidor;
    Notificaciones n(servidor.servicio());
    ASSERT_TRUE(esperar(n.publicar(aviso("a", "uno"))));
    ASSERT_TRUE(esperar(n.publicar(aviso("b", "otro"))));
    // Two posts of one identifier in a row, without waiting: the second still replaces the first.
    auto t1 = n.publicar(aviso("a", "dos"));
    ASSERT_TRUE(esperar(n.publicar(aviso("a", "tres"))));
    ASSERT_EQ(servidor.recibidas().size(), 4u);
    EXPECT_EQ(servidor.recibidas()[2].reemplaza, servidor.recibidas()[0].id);
    EXPECT_EQ(servidor.recibidas()[3].reemplaza, servidor.recibidas()[0].id);
    ASSERT_EQ(servidor.visibles().size(), 2u);
    EXPECT_EQ(servidor.visibles().at(servidor.recibidas()[0].id).titulo, "tres");

    n.retirar("a");
    n.retirar("nunca");
    ASSERT_TRUE(esperarHasta([&] { return servidor.visibles().size() == 1; }));
    EXPECT_EQ(servidor.visibles().begin()->second.titulo, "otro");

    // Closed by the owner: the next post of that identifier is a new bubble.
    const uint idB = servidor.recibidas()[1].id;
    servidor.invocar(idB, "default");
    girar(200);
    ASSERT_TRUE(esperar(n.publicar(aviso("b", "otra vez"))));
    EXPECT_EQ(servidor.recibidas().back().reemplaza, 0u);
}

TEST(Notificaciones, AccionesRespuestasYTextoSegunElServidor) {
    struct Caso {
        bool enLinea;
        bool marcado;
        QStringList claves;
        QString cuerpo;
    };
    for (const Caso& c : {Caso{true, false, {"default", "inline-reply", "no"}, "Sub <1> & 2\nCuerpo"},
                          Caso{false, true, {"default", "escribir", "no"}, "<b>Sub &lt;1&gt; &amp; 2</b>\nCuerpo"}}) {
        SCOPED_TRACE(c.cuerpo.toStdString());
        ServidorAvisos servidor(c.enLinea, c.marcado);
        Notificaciones n(servidor.servicio());
        n.registrarCategorias(categorias());
        std::vector<Notificaciones::Respuesta> respuestas;
        n.alResponder = [&](const Notificaciones::Respuesta& r) { respuestas.push_back(r); };
        auto a = aviso("q", "Título", "c");
        a.subtitulo = "Sub <1> & 2";
        a.cuerpo = "Cuerpo";
        ASSERT_TRUE(esperar(n.publicar(a)));
        const auto recibida = servidor.recibidas().back();
        EXPECT_EQ(recibida.claves(), c.claves);
        EXPECT_EQ(recibida.cuerpo, c.cuerpo);
        EXPECT_EQ(recibida.app, "Zentu");
        EXPECT_EQ(esperar(n.respuestaEnLinea()), c.enLinea);

        if (c.enLinea) {
            EXPECT_EQ(recibida.etiqueta("inline-reply"), "Escribir");
            servidor.responder(recibida.id, "hola");
            ASSERT_TRUE(esperarHasta([&] { return respuestas.size() == 1; }));
            EXPECT_EQ(respuestas[0].accion, "escribir");
            EXPECT_EQ(respuestas[0].texto, "hola");
        } else {
            servidor.invocar(recibida.id, "escribir");
            ASSERT_TRUE(esperarHasta([&] { return respuestas.size() == 1; }));
            EXPECT_EQ(respuestas[0].accion, "escribir");
            EXPECT_FALSE(respuestas[0].texto);
        }
        EXPECT_EQ(respuestas[0].identificador, "q");
        EXPECT_EQ(respuestas[0].datos.value("id"), "q");
        // A bubble that is gone answers nothing more.
        servidor.invocar(recibida.id, "no");
        girar(200);
        EXPECT_EQ(respuestas.size(), 1u);
    }
}

TEST(Notificaciones, SinServidorNadaSeRompe) {
    Notificaciones n(QStringLiteral("ai.zentu.prueba.nadie"));
    const auto error = esperar(n.autorizar());
    EXPECT_TRUE(error.has_value());
    EXPECT_FALSE(esperar(n.publicar(aviso("a", "uno"))));
    EXPECT_FALSE(esperar(n.publicar(aviso("a", "dos"))));  // the queue of posts goes on
    n.retirar("a");
}

// The server shows whose notification it is: every one names the program's icon and its desktop
// entry, the ones the install puts in place (the entry's Icon line and its file name).
TEST(Notificaciones, LlevanElIconoYLaEntradaDelPrograma) {
    QFile entrada(QStringLiteral(ZENTU_DIR_SERVICIO "/../../src/zentu/app/ai.zentu.voz.desktop.in"));
    ASSERT_TRUE(entrada.open(QIODevice::ReadOnly));
    QString icono;
    for (const QByteArray& linea : entrada.readAll().split('\n'))
        if (linea.startsWith("Icon=")) icono = QString::fromUtf8(linea.mid(5)).trimmed();
    ASSERT_EQ(icono, "ai.zentu.voz");

    ServidorAvisos servidor;
    Notificaciones n(servidor.servicio());
    n.registrarCategorias(categorias());
    Notificaciones::Aviso conSonido = aviso("c", "con sonido");
    conSonido.sonido = QString();
    for (const Notificaciones::Aviso& a : {aviso("a", "simple"), aviso("b", "con acciones", "c"), conSonido, aviso("a", "otra vez")})
        ASSERT_TRUE(esperar(n.publicar(a))) << a.titulo.toStdString();
    ASSERT_EQ(servidor.recibidas().size(), 4u);
    for (const auto& r : servidor.recibidas()) {
        EXPECT_EQ(r.icono, icono) << r.titulo.toStdString();
        EXPECT_EQ(r.pistas.value("desktop-entry").toString(), "ai.zentu.voz") << r.titulo.toStdString();
    }
}
