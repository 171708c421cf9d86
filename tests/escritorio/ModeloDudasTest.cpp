#include "FalsoAlmacen.h"

#include "comun/Ayudas.h"

#include <gtest/gtest.h>

namespace {

QCoro::Task<bool> terminada(QCoro::Task<void> tarea) {
    co_await std::move(tarea);
    co_return true;
}

QStringList nombres(const std::vector<Sonidos::Cual>& cues) {
    static const char* const n[] = {"aparece", "seVa",  "escucha", "piensa", "termino", "silencio",
                                    "activaMic", "error", "timbre", "enviado", "llego",  "hecho",
                                    "descartado", "captura", "recibido", "espera"};
    QStringList r;
    for (auto c : cues) r << n[int(c)];
    return r;
}

TEST(ModeloDudas, ConstruccionYRefresco) {
    struct Caso {
        const char* que;
        QList<QJsonObject> lista;
        std::optional<qint64> abierta, esperada;
    };
    const std::vector<Caso> casos = {
        {"sin abierta: la primera", {duda(12), duda(4)}, std::nullopt, 12},
        {"abierta listada: se queda", {duda(12), duda(4)}, 4, 4},
        {"abierta que ya no está: la primera", {duda(12), duda(4)}, 7, 12},
        {"lista vacía", {}, 7, std::nullopt},
        {"primera sin id entero", {QJsonObject{{"id", "x"}}, duda(5)}, std::nullopt, std::nullopt},
        {"id con decimales no es entero", {QJsonObject{{"id", 2.5}}}, std::nullopt, std::nullopt},
    };
    for (const Caso& c : casos) {
        // Without a store the given list stays (the screenshot renderer's card).
        ModeloDudas sin(std::nullopt, c.abierta, c.lista);
        EXPECT_EQ(sin.abierta(), c.esperada) << c.que;
        EXPECT_EQ(sin.lista(), c.lista) << c.que;
        // With a store the store's lists win.
        FalsoAlmacen f;
        f.dudas = c.lista;
        ModeloDudas con(f.almacen(), c.abierta, {duda(99)});
        EXPECT_EQ(con.abierta(), c.esperada) << c.que;
        EXPECT_EQ(con.lista(), c.lista) << c.que;
    }
}

TEST(ModeloDudas, PermisoAbiertoSoloSeSuelta) {
    FalsoAlmacen f;
    f.dudas = {duda(1)};
    f.permisos = {QJsonObject{{"id", 3}, {"texto", "Hola"}}};
    ModeloDudas m(f.almacen(), std::nullopt, {});
    m.setPermisoAbierto(3);
    f.dudas.clear();
    m.refrescar();
    EXPECT_EQ(m.permisoAbierto(), 3);
    EXPECT_EQ(m.abierta(), std::nullopt);
    f.permisos.clear();
    m.refrescar();
    EXPECT_EQ(m.permisoAbierto(), std::nullopt);
    f.permisos = {QJsonObject{{"id", 3}}};
    m.refrescar();
    EXPECT_EQ(m.permisoAbierto(), std::nullopt);  // never chosen again by the model
}

TEST(ModeloDudas, Operaciones) {
    struct Caso {
        const char* que;
        std::function<bool(ModeloDudas&)> hacer;
        std::optional<Pendientes::ResultadoDuda> respuesta;
        std::optional<std::optional<QString>> resultado;
        bool ok;
        std::optional<QString> error;
        QStringList cues;
        std::optional<qint64> abiertaDespues, permisoDespues;
    };
    const QString viejo = QStringLiteral(
        "Esta duda tiene 30 horas: ábrela en Zentu AI para elegir si se le responde al cliente o solo se guarda.");
    auto contestar = [](qint64 id, QString t) {
        return [id, t](ModeloDudas& m) { return pruebas::esperar(m.contestar(id, t)); };
    };
    auto decidir = [](qint64 id, bool a, std::optional<QString> t) {
        return [id, a, t](ModeloDudas& m) { return pruebas::esperar(m.decidirPermiso(id, a, t)); };
    };
    auto descartar = [](qint64 id) {
        return [id](ModeloDudas& m) {
            pruebas::esperar(terminada(m.descartar(id)));
            return !m.error().has_value();
        };
    };
    const std::vector<Caso> casos = {
        {"respuesta", contestar(1, "Sí, confírmala"), std::nullopt, std::nullopt, true, std::nullopt, {"hecho"}, 2, 3},
        {"respuesta por plantilla", contestar(1, "Va"), Pendientes::Respondida{true, false}, std::nullopt, true, std::nullopt,
         {"hecho"}, 2, 3},
        {"muy vieja", contestar(1, "Va bien"), Pendientes::Vieja{29.5, QStringLiteral("pista"), true}, std::nullopt, false, viejo,
         {"error"}, 1, 3},
        {"fallo", contestar(1, "Va bien"), Pendientes::Fallo{"Zentu no respondió (500)."}, std::nullopt, false,
         QStringLiteral("Zentu no respondió (500)."), {"error"}, 1, 3},
        {"un carácter", contestar(1, " a "), std::nullopt, std::nullopt, false, QStringLiteral("Escribe una respuesta."),
         {"error"}, 1, 3},
        {"aprobar", decidir(3, true, std::nullopt), std::nullopt, std::nullopt, true, std::nullopt, {"hecho"}, 1, std::nullopt},
        {"rechazar", decidir(3, false, std::nullopt), std::nullopt, std::nullopt, true, std::nullopt, {"descartado"}, 1,
         std::nullopt},
        {"decisión fallida", decidir(3, true, "Hola"), std::nullopt, std::optional<QString>("Sin conexión."), false,
         QStringLiteral("Sin conexión."), {"error"}, 1, 3},
        {"descartar", descartar(1), std::nullopt, std::nullopt, true, std::nullopt, {"descartado"}, 2, 3},
        {"descarte fallido", descartar(1), std::nullopt, std::optional<QString>("No se pudo."), false,
         QStringLiteral("No se pudo."), {"error"}, 1, 3},
    };
    for (const Caso& c : casos) {
        FalsoAlmacen f;
        f.dudas = {duda(1), duda(2)};
        f.permisos = {QJsonObject{{"id", 3}, {"texto", "Hola"}}};
        if (c.respuesta) f.respuestas.push_back(*c.respuesta);
        if (c.resultado) f.resultados.push_back(*c.resultado);
        ModeloDudas m(f.almacen(), 1, {});
        m.setPermisoAbierto(3);
        std::vector<Sonidos::Cual> cues;
        m.alSonar = [&](Sonidos::Cual s) { cues.push_back(s); };
        std::vector<bool> enviando;
        QObject::connect(&m, &ModeloDudas::cambio, [&] { enviando.push_back(m.enviando()); });
        EXPECT_EQ(c.hacer(m), c.ok) << c.que;
        EXPECT_EQ(m.error(), c.error) << c.que;
        EXPECT_EQ(nombres(cues), c.cues) << c.que;
        EXPECT_FALSE(m.enviando()) << c.que;
        EXPECT_TRUE(std::find(enviando.begin(), enviando.end(), true) != enviando.end()) << c.que;
        EXPECT_EQ(m.abierta(), c.abiertaDespues) << c.que;
        EXPECT_EQ(m.permisoAbierto(), c.permisoDespues) << c.que;
    }
}

TEST(ModeloDudas, TextoSinCambios) {
    FalsoAlmacen f;
    f.dudas = {duda(1)};
    ModeloDudas m(f.almacen(), 1, {});
    pruebas::esperar(m.contestar(1, QStringLiteral("  con espacios \n")));
    EXPECT_EQ(f.llamadas, QStringList{"responder 1 «  con espacios \n»"});
}

}  // namespace
