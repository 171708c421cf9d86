#include "FalsoAlmacen.h"

#include "comun/Ayudas.h"
#include "zentu/escritorio/VistaAgentesFlotante.h"
#include "zentu/escritorio/VistaDudasFlotante.h"
#include "zentu/isla/TarjetasFlotantes.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString isoHace(qint64 segundos) {
    return QDateTime::currentDateTimeUtc().addSecs(-segundos).toString(Qt::ISODate);
}

// The three questions the card is shown with in the program's own pictures.
QList<QJsonObject> demo() {
    return {
        QJsonObject{{"id", 1},
                    {"agent_name", "reservas"},
                    {"question", "¿Le confirmo la reserva del sábado a la familia Tolmira aunque todavía no ha pagado el depósito?"},
                    {"context", "Pidieron 2 habitaciones del 18 al 20. Dicen que transfieren el lunes."},
                    {"cliente", "Familia Tolmira"},
                    {"options", QJsonArray{"Sí, confírmala", "No, espera el pago", "Dale hasta el lunes"}},
                    {"created_at", isoHace(600)}},
        QJsonObject{{"id", 2},
                    {"agent_name", "ventas"},
                    {"question", "Un cliente pide 10 % de descuento por pagar al contado. ¿Se lo doy?"},
                    {"context", ""},
                    {"options", QJsonArray{}},
                    {"created_at", isoHace(3600)}},
        QJsonObject{{"id", 3},
                    {"agent_name", "contador"},
                    {"question", "¿La factura de ayer va con comprobante B01 o B02?"},
                    {"context", ""},
                    {"options", QJsonArray{"B01", "B02"}},
                    {"created_at", isoHace(7200)}},
    };
}

QJsonObject permisoDemo() {
    return QJsonObject{{"id", 40},
                       {"agent_name", "cobranza_norte"},
                       {"created_at", isoHace(900)},
                       {"destinatario", "Laura Méndez"},
                       {"telefono", "+52 55 1234 5678"},
                       {"texto", "Hola Laura, te escribo de Tacos Lupe por tu pedido pendiente de pago."},
                       {"motivo", "La factura 118 venció hace 12 días."},
                       {"proposito", "Que pague o diga una fecha."},
                       {"limites", ""}};
}

// The card on a backdrop like a desktop, as a person sees it.
QImage foto(QWidget& vista, Esquema esquema) {
    vista.resize(vista.sizeHint());
    const QSize tam = vista.size();
    QImage img(tam * 2, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(2);
    img.fill(esquema == Esquema::oscuro ? QColor(38, 48, 70) : QColor(160, 184, 216));
    QPainter p(&img);
    vista.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

void guardar(QWidget& vista, Esquema e, const QString& nombre) {
    foto(vista, e).save(pruebas::carpetaArtefactos("dudas") + "/" + nombre + (e == Esquema::oscuro ? "" : "-claro") + ".png");
}

TEST(VistaDudas, Escala) {
    for (auto [ancho, s] : {std::pair{560.0, 1.0}, std::pair{600.0, 1.0}, std::pair{864.0, 1.44}, std::pair{870.0, 1.45},
                            std::pair{1100.0, 1.45}})
        EXPECT_DOUBLE_EQ(VistaDudasFlotante::escala(true, ancho), s) << ancho;
    EXPECT_DOUBLE_EQ(VistaDudasFlotante::escala(false, 1100), 1.0);
}

TEST(VistaDudas, Hace) {
    const QDateTime ahora = QDateTime::fromString("2026-03-10T12:00:00Z", Qt::ISODate);
    auto hace = [&](qint64 s) { return VistaDudasFlotante::hace(ahora.addSecs(-s).toString(Qt::ISODate), ahora); };
    EXPECT_EQ(hace(30), "hace 1 min");
    EXPECT_EQ(hace(0), "hace 1 min");
    EXPECT_EQ(hace(-600), "hace 1 min");  // in the future
    EXPECT_EQ(hace(3599), "hace 59 min");
    EXPECT_EQ(hace(3600), "hace 1 h");
    EXPECT_EQ(hace(86399), "hace 23 h");
    EXPECT_EQ(hace(86400), "hace 1 d");
    EXPECT_EQ(hace(86400 * 9 + 5), "hace 9 d");
    EXPECT_EQ(VistaDudasFlotante::hace(QString("2026-03-10T11:55:00.250Z"), ahora), "hace 4 min");
    EXPECT_EQ(VistaDudasFlotante::hace(QString("2026-03-10T10:00:00+01:00"), ahora), "hace 3 h");
    for (const char* malo : {"", "ayer", "2026-03-10", "2026-03-10T11:00:00", "2026-13-40T00:00:00Z"})
        EXPECT_EQ(VistaDudasFlotante::hace(QString(malo), ahora), "") << malo;
    EXPECT_EQ(VistaDudasFlotante::hace(std::nullopt, ahora), "");
}

TEST(VistaDudas, NombresEIniciales) {
    struct Caso {
        QJsonValue nombre;
        QString visible, inicial;
    };
    for (const Caso& c : {Caso{"ventas_norte", "Ventas norte", "V"}, Caso{QJsonValue(), "Agente", "?"},
                          Caso{5, "Agente", "?"}, Caso{"_x", " x", "_"}, Caso{"ñu", "Ñu", "Ñ"}}) {
        QJsonObject r;
        if (!c.nombre.isUndefined() && !c.nombre.isNull()) r["agent_name"] = c.nombre;
        EXPECT_EQ(VistaDudasFlotante::nombreAgente(r), c.visible);
        EXPECT_EQ(VistaDudasFlotante::inicial(r), c.inicial);
    }
}

class Tarjeta_ : public ::testing::Test {
protected:
    FalsoAlmacen f;
    int cerrada = 0, chat = 0;
    std::unique_ptr<ModeloDudas> m;
    std::unique_ptr<VistaDudasFlotante> v;
    void montar(std::optional<qint64> abierta, bool sola = true) {
        m = std::make_unique<ModeloDudas>(f.almacen(), abierta, QList<QJsonObject>{});
        v = std::make_unique<VistaDudasFlotante>(*m, [this] { ++cerrada; }, [this] { ++chat; }, sola, 600, Esquema::oscuro);
        v->show();
    }
    // Typed key by key, as a keyboard would (the test library only types ASCII).
    void escribir(const QString& t) {
        v->campoRespuesta()->setFocus();
        for (const QChar c : t) {
            QKeyEvent abajo(QEvent::KeyPress, c == ' ' ? Qt::Key_Space : Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(v->campoRespuesta(), &abajo);
            QKeyEvent arriba(QEvent::KeyRelease, c == ' ' ? Qt::Key_Space : Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(v->campoRespuesta(), &arriba);
        }
    }
    void intro() { QTest::keyClick(v->campoRespuesta(), Qt::Key_Return); }
};

TEST_F(Tarjeta_, EnviarConIntroYBoton) {
    f.dudas = demo();
    montar(1);
    EXPECT_EQ(v->muestra(), VistaDudasFlotante::Muestra::duda);
    EXPECT_FALSE(v->botonEnviar()->isEnabled());
    escribir(" a ");
    EXPECT_FALSE(v->botonEnviar()->isEnabled());  // fewer than two characters
    // Return sends anyway; the store refuses it and the card says so, keeping the text.
    intro();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return m->error().has_value(); }));
    EXPECT_EQ(*m->error(), "Escribe una respuesta.");
    EXPECT_EQ(v->respuesta(), " a ");
    EXPECT_EQ(cerrada, 0);
    // Counted as the owner sees characters, as the store counts them.
    for (auto [texto, habilitado] : {std::pair{"👍", false}, std::pair{" e\xCC\x81\n", false}, std::pair{"👍👍", true}}) {
        v->campoRespuesta()->setPlainText(QString::fromUtf8(texto));
        EXPECT_EQ(v->botonEnviar()->isEnabled(), habilitado) << texto;
    }
    v->campoRespuesta()->clear();
    escribir("Sí");
    EXPECT_TRUE(v->botonEnviar()->isEnabled());
    // Shift+Return breaks the line instead of sending.
    QTest::keyClick(v->campoRespuesta(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(v->respuesta(), "Sí\n");
    QTest::mouseClick(v->botonEnviar(), Qt::LeftButton, {}, v->botonEnviar()->rect().center());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cerrada == 1; }));
    EXPECT_EQ(f.llamadas.last(), "responder 1 «Sí\n»");
    EXPECT_EQ(v->respuesta(), "");
}

TEST_F(Tarjeta_, IntroNoEnviaDosVeces) {
    f.dudas = demo();
    f.esperaMs = 200;
    montar(1);
    escribir("Dale hasta el lunes");
    intro();
    ASSERT_TRUE(m->enviando());
    intro();
    intro();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cerrada == 1; }));
    EXPECT_EQ(f.llamadas.size(), 1);
}

TEST_F(Tarjeta_, OpcionesDescartarYChat) {
    f.dudas = demo();
    f.resultados.push_back(QStringLiteral("No se pudo descartar."));
    montar(1);
    ASSERT_EQ(v->chips().size(), 3);
    escribir("otra cosa");
    f.respuestas.push_back(Pendientes::Fallo{"Sin conexión."});
    v->chips()[0]->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return m->error().has_value(); }));
    EXPECT_EQ(f.llamadas.last(), "responder 1 «Sí, confírmala»");
    EXPECT_EQ(v->respuesta(), "otra cosa");  // a failed answer keeps what was typed
    // A failed discard keeps the card; a good one closes it.
    v->botonDescartar()->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !m->enviando() && f.llamadas.size() == 2; }));
    EXPECT_EQ(cerrada, 0);
    EXPECT_EQ(*m->error(), "No se pudo descartar.");
    v->botonDescartar()->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cerrada == 1; }));
    // After the discard the store no longer lists 1: the card moves on to 2, which has no chips.
    EXPECT_EQ(m->abierta(), 2);
    EXPECT_TRUE(v->chips().isEmpty());
    QTest::mouseClick(v->findChildren<QAbstractButton*>().first(), Qt::LeftButton);
    v->botonCerrar()->click();
    EXPECT_EQ(cerrada, 2);
}

TEST_F(Tarjeta_, ResueltaCuandoSeVa) {
    f.dudas = {demo()[1]};
    montar(2);
    escribir("Tal vez");
    f.dudas.clear();
    m->refrescar();
    EXPECT_EQ(v->muestra(), VistaDudasFlotante::Muestra::resuelta);
    bool hay = false;
    for (QLabel* l : v->findChildren<QLabel*>()) hay = hay || (l->isVisibleTo(v.get()) && l->text() == "Esa duda ya está resuelta.");
    EXPECT_TRUE(hay);
    // Another question arriving keeps the text typed for the old one.
    f.dudas = {demo()[2]};
    m->refrescar();
    EXPECT_EQ(v->muestra(), VistaDudasFlotante::Muestra::duda);
    EXPECT_EQ(v->respuesta(), "Tal vez");
}

TEST_F(Tarjeta_, Permiso) {
    f.dudas = demo();
    f.permisos = {permisoDemo()};
    montar(std::nullopt);
    m->setPermisoAbierto(40);
    ASSERT_EQ(v->muestra(), VistaDudasFlotante::Muestra::permiso);
    auto textos = [&] {
        QStringList t;
        for (QLabel* l : v->findChildren<QLabel*>())
            if (l->isVisibleTo(v.get())) t << l->text();
        return t;
    };
    EXPECT_TRUE(textos().contains("Quiere escribirle a Laura Méndez"));
    EXPECT_TRUE(textos().contains("nada: no ofrecerá descuentos ni plazos"));
    EXPECT_TRUE(textos().contains("Cobranza norte"));
    // Spaces around the proposal are no edit: "Aprobar" without text.
    QPlainTextEdit* campo = v->campoPermiso();
    campo->setPlainText("  " + permisoDemo()["texto"].toString() + "\n");
    EXPECT_FALSE(v->textoPermiso() == std::nullopt);
    v->botonAprobar()->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cerrada == 1; }));
    EXPECT_EQ(f.llamadas.last(), "decidir 40 aprobar -");

    f.permisos = {permisoDemo()};
    montar(std::nullopt);
    m->setPermisoAbierto(40);
    v->campoPermiso()->setPlainText("  Hola Laura, ¿cuándo puedes pagar?  ");
    v->botonAprobar()->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cerrada == 2; }));
    EXPECT_EQ(f.llamadas.last(), "decidir 40 aprobar «Hola Laura, ¿cuándo puedes pagar?»");

    // An empty message cannot be approved; rejecting sends no text.
    f.permisos = {permisoDemo()};
    montar(std::nullopt);
    m->setPermisoAbierto(40);
    v->campoPermiso()->setPlainText(" \n ");
    EXPECT_FALSE(v->botonAprobar()->isEnabled());
    EXPECT_TRUE(v->botonRechazar()->isEnabled());
    v->botonRechazar()->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cerrada == 3; }));
    EXPECT_EQ(f.llamadas.last(), "decidir 40 rechazar -");
    // Once decided the request is gone: the card falls back to the question.
    EXPECT_EQ(m->permisoAbierto(), std::nullopt);
}

TEST_F(Tarjeta_, Lista) {
    f.dudas = demo();
    montar(2, false);
    EXPECT_EQ(v->muestra(), VistaDudasFlotante::Muestra::lista);
    ASSERT_EQ(v->filasColapsadas().size(), 2);
    escribir("texto para la 2");
    m->setError(QStringLiteral("viejo error"));
    v->filasColapsadas()[1]->click();  // question 3
    EXPECT_EQ(m->abierta(), 3);
    EXPECT_EQ(v->respuesta(), "");
    EXPECT_EQ(m->error(), std::nullopt);
    EXPECT_EQ(v->chips().size(), 2);
    // In the list a good answer empties the field and keeps the card.
    v->chips()[1]->click();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return f.llamadas.size() == 1 && !m->enviando(); }));
    EXPECT_EQ(f.llamadas.last(), "responder 3 «B02»");
    EXPECT_EQ(cerrada, 0);
}

TEST(VistaDudasFotos, LasTarjetas) {
    for (Esquema e : {Esquema::oscuro, Esquema::claro}) {
        ModeloDudas sola(std::nullopt, 1, demo());
        VistaDudasFlotante unaDuda(sola, {}, {}, true, 864, e);
        guardar(unaDuda, e, "duda");
        // The card is as tall as its content: nothing below the action row.
        const QImage img = foto(unaDuda, e);
        EXPECT_GT(unaDuda.height(), 300);
        EXPECT_LT(unaDuda.height(), 760);

        ModeloDudas lista(std::nullopt, 1, demo());
        VistaDudasFlotante enLista(lista, {}, {}, false, 600, e);
        guardar(enLista, e, "dudas-lista");

        FalsoAlmacen f;
        f.permisos = {permisoDemo()};
        ModeloDudas conPermiso(f.almacen(), std::nullopt, {});
        conPermiso.setPermisoAbierto(40);
        VistaDudasFlotante permiso(conPermiso, {}, {}, true, 600, e);
        guardar(permiso, e, "permiso");
        permiso.campoPermiso()->setPlainText("Hola Laura, ¿me dices cuándo puedes pagar la factura 118?");
        guardar(permiso, e, "permiso-editado");

        ModeloDudas vacia(std::nullopt, std::nullopt, {});
        VistaDudasFlotante resuelta(vacia, {}, {}, true, 600, e);
        guardar(resuelta, e, "resuelta");
    }
}

TEST(VistaDudasVentana, LaVentanaSigueLaAlturaDeLaTarjeta) {
    ModeloDudas m(std::nullopt, 2, demo());
    auto* v = new VistaDudasFlotante(m, {}, {}, true, 600, Esquema::oscuro);
    PanelFlotante ventana(QSizeF(600, 0), v);
    EXPECT_EQ(ventana.width(), 648);
    ventana.show();
    QCoreApplication::processEvents();
    const int antes = ventana.height();
    EXPECT_EQ(antes, v->heightForWidth(648));
    const int campo = v->campoRespuesta()->height();
    v->campoRespuesta()->setPlainText("una\ndos\ntres");
    QCoreApplication::processEvents();
    // The field grew by two lines, and the window with it.
    EXPECT_GT(v->campoRespuesta()->height(), campo);
    EXPECT_EQ(ventana.height() - antes, v->campoRespuesta()->height() - campo);
    v->campoRespuesta()->setPlainText("1\n2\n3\n4\n5\n6");
    QCoreApplication::processEvents();
    const int cuatro = v->campoRespuesta()->height();
    v->campoRespuesta()->setPlainText("1\n2\n3\n4\n5\n6\n7\n8");
    QCoreApplication::processEvents();
    EXPECT_EQ(v->campoRespuesta()->height(), cuatro);  // four lines at most, then it scrolls
}

}  // namespace
