// The agents widget: the one order of agents, the texts, the carousel's position, the list's
// padding and avatar measures; and pictures of every family in both schemes.
#include "compartido/VistaAgentesW.h"

#include "comun/Ayudas.h"
#include "comun/PintarWidget.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

using Agente = Instantanea::Agente;

Agente ag(qint64 id, const char* nombre, bool activo, qint64 conv, bool coord = false, const char* cat = "ventas") {
    return {id, QString::fromUtf8(nombre), QString::fromUtf8(cat), activo, conv, coord};
}

std::vector<qint64> ids(const std::vector<Agente>& l) {
    std::vector<qint64> r;
    for (const auto& a : l) r.push_back(a.id);
    return r;
}

TEST(VistaAgentesW, Orden) {
    struct Caso {
        const char* que;
        std::vector<Agente> entrada;
        std::vector<qint64> orden;
    };
    const Caso casos[] = {
        {"el coordinador primero aunque tenga 0", {ag(1, "Ventas", true, 4), ag(2, "Zentu", true, 0, true)}, {2, 1}},
        {"activo antes que en pausa", {ag(1, "Pausado", false, 9), ag(2, "Libre", true, 0)}, {2, 1}},
        {"más conversaciones antes", {ag(1, "A", true, 1), ag(2, "B", true, 5), ag(3, "C", true, 3)}, {2, 3, 1}},
        {"nombre sin mayúsculas", {ag(1, "Bruno", true, 3), ag(2, "ana", true, 3)}, {2, 1}},
        {"acentos aparte", {ag(1, "Andrés", true, 0), ag(2, "Álvaro", true, 0)}, {2, 1}},
        {"ñ entre n y o", {ag(1, "Oscar", true, 0), ag(2, "Ñoño", true, 0), ag(3, "Nora", true, 0)}, {3, 2, 1}},
        {"iguales conservan su orden", {ag(7, "Eva", true, 2), ag(3, "eva", true, 2), ag(5, "Eva", true, 2)}, {7, 3, 5}},
        {"el ejemplo", *Instantanea::ejemplo().agentes, {1, 2, 3, 4}},
        {"vacía", {}, {}},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(ids(VistaAgentesW::ordenados(c.entrada)), c.orden) << c.que;
    }
    // The test is a strict order: nobody goes before itself.
    const Agente a = ag(1, "Ana", true, 2);
    EXPECT_FALSE(VistaAgentesW::antes(a, a));
}

TEST(VistaAgentesW, Textos) {
    struct Caso {
        Agente a;
        const char* estado;
        const char* corto;
        bool verde;
    };
    const Caso casos[] = {
        {ag(1, "x", false, 5), "En pausa", "En pausa", false},
        {ag(1, "x", true, 1), "1 conversación", "1 conv.", true},
        {ag(1, "x", true, 0), "Disponible", "Disponible", false},
        {ag(1, "x", true, -3), "Disponible", "Disponible", false},
        {ag(1, "x", true, 7), "7 conversaciones", "7 conv.", true},
        {ag(1, "x", true, 0, true), "Disponible", "Disponible", false},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(VistaAgentesW::estado(c.a), QString::fromUtf8(c.estado));
        EXPECT_EQ(VistaAgentesW::estadoCorto(c.a), QString::fromUtf8(c.corto));
        EXPECT_EQ(VistaAgentesW::verde(c.a), c.verde);
    }
    EXPECT_EQ(VistaAgentesW::resumen(*Instantanea::ejemplo().agentes), QStringLiteral("3 activos \u00B7 1 en pausa"));
    EXPECT_EQ(VistaAgentesW::resumen(std::vector<Agente>(4, ag(1, "x", true, 0))), QStringLiteral("4 activos"));
    EXPECT_EQ(VistaAgentesW::resumen({ag(1, "x", true, 0)}), QStringLiteral("1 activos"));

    const std::pair<const char*, const char*> categorias[] = {
        {"atencion", "Atención al cliente"}, {"ventas", "Ventas"}, {"soporte", "Soporte"},
        {"finanzas", "Finanzas"}, {"cobros", "Cobros"}, {"operacion", "Operaciones"},
        {"creativo", "Creativo"}, {"asistente", "Asistente"}, {"general", "Agente"},
        {"Ventas", "Agente"}, {"", "Agente"},
    };
    for (auto [clave, etiqueta] : categorias)
        EXPECT_EQ(VistaAgentesW::categoria(QString::fromUtf8(clave)), QString::fromUtf8(etiqueta)) << clave;
}

TEST(VistaAgentesW, CarruselYLista) {
    EXPECT_EQ(VistaAgentesW::posicion(4, 3), 1);
    EXPECT_EQ(VistaAgentesW::textoPosicion(1, 3), QStringLiteral("2/3"));
    EXPECT_EQ(VistaAgentesW::posicion(8, 9), 8);
    EXPECT_EQ(VistaAgentesW::textoPosicion(8, 9), QStringLiteral("9/9"));
    EXPECT_EQ(VistaAgentesW::textoPosicion(0, 1), QString());
    EXPECT_EQ(VistaAgentesW::posicion(1, 4), 1);  // the demo at index 1: Ventas, 2/4
    EXPECT_EQ(VistaAgentesW::ordenados(*Instantanea::ejemplo().agentes)[1].nombre, QStringLiteral("Ventas"));
    // Euclidean: never negative, whatever the index.
    EXPECT_EQ(VistaAgentesW::posicion(-1, 3), 2);
    EXPECT_EQ(VistaAgentesW::posicion(-3, 3), 0);
    EXPECT_EQ(VistaAgentesW::posicion(std::numeric_limits<qint64>::min(), 7), 6);

    const std::pair<int, double> rellenos[] = {{1, 20}, {3, 20}, {4, 17}, {5, 11}, {6, 7.5}, {8, 7.5}};
    for (auto [n, r] : rellenos) EXPECT_EQ(VistaAgentesW::relleno(n), r) << n;

    const auto m34 = VistaAgentesW::medidasAvatar(34);
    EXPECT_NEAR(m34.punto, 7.48, 1e-9);
    EXPECT_EQ(m34.borde, 1.2);
    EXPECT_EQ(m34.anillo, 0.8);
    const auto m58 = VistaAgentesW::medidasAvatar(58);
    EXPECT_NEAR(m58.punto, 12.76, 1e-9);
    EXPECT_NEAR(m58.borde, 2.03, 1e-9);
    EXPECT_EQ(m58.anillo, 1.2);
    EXPECT_NEAR(m58.inicial, 24.36, 1e-9);
}

// The large list's overflow line sits below a flexible spacer: at the bottom of the content,
// however much room the six rows leave.
TEST(VistaAgentesW, LineaDeMasAbajo) {
    Instantanea foto = Instantanea::ejemplo();
    for (int i = 5; i <= 8; ++i) foto.agentes->push_back(ag(i, "Extra", true, 1));
    const QSize tam(364, 700);
    QImage img(tam, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        VistaAgentesW{foto, FamiliaW::grande, PaletaW{false}, 0}.pintar(p, QRectF(QPointF(0, 0), tam));
    }
    auto tinta = [&](int desde, int hasta) {
        for (int y = desde; y < hasta; ++y)
            for (int x = 0; x < tam.width(); ++x)
                if (qAlpha(img.pixel(x, y)) > 0) return true;
        return false;
    };
    EXPECT_TRUE(tinta(tam.height() - 20, tam.height()));  // "y 2 más"
    EXPECT_FALSE(tinta(tam.height() - 200, tam.height() - 20));
}

using pruebas::pintarWidget;

TEST(VistaAgentesW, Imagenes) {
    Instantanea demo = Instantanea::ejemplo();
    Instantanea ocho = demo;
    for (int i = 5; i <= 8; ++i)
        ocho.agentes->push_back(ag(i, i % 2 ? "cobros_online" : "Soporte", i != 6, i, false, i % 2 ? "cobros" : "general"));
    Instantanea sinAgentes = demo;
    sinAgentes.agentes.reset();
    struct Foto {
        const char* nombre;
        Instantanea foto;
        qint64 indice;
    };
    const Foto fotos[] = {{"demo", demo, 0}, {"demo1", demo, 1}, {"ocho", ocho, 8}, {"sinagentes", sinAgentes, 0},
                          {"vacia", Instantanea::vacia(), 0}};
    for (const Foto& f : fotos)
        for (auto [familia, tam, nombre] : {std::tuple{FamiliaW::pequena, QSize(170, 170), "pequena"},
                                            std::tuple{FamiliaW::mediana, QSize(364, 170), "mediana"},
                                            std::tuple{FamiliaW::grande, QSize(364, 382), "grande"}})
            for (bool oscuro : {false, true}) {
                const QImage img = pintarWidget(tam, [&](QPainter& p, const QRectF& r, const PaletaW& pal) {
                    VistaAgentesW{f.foto, familia, pal, f.indice}.pintar(p, r);
                }, oscuro, familia == FamiliaW::pequena ? QPointF(0.5, 0.5) : QPointF(0, 0));
                EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("widgets") +
                                     QStringLiteral("/agentes-%1-%2-%3.png").arg(f.nombre, nombre, oscuro ? "oscuro" : "claro")));
            }
}

}  // namespace
