// The two timeline providers as functions of the snapshot file, the family, the size and the
// moment of the request; and the host's reload rule.
#include "widgets/Proveedores.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

const QDateTime kAhora = QDateTime::fromSecsSinceEpoch(1'790'000'000, Qt::UTC);

class Proveedores : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto ruta : {Instantanea::archivo(), Tamanos::archivo()})
            if (ruta) QFile::remove(*ruta);
    }
    static void escribir(const Instantanea& foto) { foto.guardar(); }
    static Instantanea enlazada(int agentes) {
        Instantanea f;
        f.enlazada = true;
        f.totalPendientes = 2;
        f.actualizado = QDateTime::fromSecsSinceEpoch(1'789'999'000, Qt::UTC);
        if (agentes >= 0) {
            f.agentes.emplace();
            for (int i = 0; i < agentes; ++i)
                f.agentes->push_back({i + 1, QStringLiteral("Agente %1").arg(i), QStringLiteral("ventas"), true, i, false});
        }
        return f;
    }
    static QJsonObject tamanos() {
        QFile f(*Tamanos::archivo());
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
};

TEST_F(Proveedores, CompartidoUnaEntradaYRecargaA900) {
    escribir(enlazada(0));
    const auto linea = Proveedor::timeline(QStringLiteral("systemMedium"), {364, 170}, kAhora);
    ASSERT_EQ(linea.entradas.size(), 1u);
    EXPECT_EQ(linea.entradas[0].date, kAhora);
    EXPECT_TRUE(linea.entradas[0].foto.enlazada);
    EXPECT_EQ(linea.entradas[0].foto.totalPendientes, 2);
    EXPECT_EQ(linea.recarga.tipo, Recarga::despues);
    EXPECT_EQ(linea.recarga.cuando, kAhora.addSecs(900));
}

TEST_F(Proveedores, ElTamanoSeAnotaAntesDeLaEntrada) {
    // The snapshot is read after the size file holds the family's entry.
    QJsonObject visto;
    Fuentes fuentes;
    fuentes.leer = [&] {
        visto = tamanos();
        return Instantanea::leer();
    };
    const auto linea = Proveedor::timeline(QStringLiteral("systemSmall"), {170, 170}, kAhora, fuentes);
    EXPECT_EQ(visto.value("systemSmall").toArray(), QJsonArray({170.0, 170.0}));
    EXPECT_EQ(tamanos().keys(), QStringList{"systemSmall"});
    ASSERT_EQ(linea.entradas.size(), 1u);
}

TEST_F(Proveedores, SinEnlazarLaLineaNoUsaElEjemploPeroLaVistaPreviaSi) {
    // No file at all: the empty snapshot in the timeline (not-linked content).
    const auto linea = Proveedor::timeline(QStringLiteral("systemSmall"), {170, 170}, kAhora);
    EXPECT_EQ(linea.entradas.at(0).foto, Instantanea::vacia());
    EXPECT_EQ(Proveedor::snapshot(kAhora, true).foto, Instantanea::ejemplo());
    EXPECT_EQ(Proveedor::snapshot(kAhora, false).foto, Instantanea::vacia());
    EXPECT_EQ(Proveedor::placeholder(kAhora).foto, Instantanea::ejemplo());

    // A linked snapshot is shown as it is, preview or not.
    escribir(enlazada(1));
    EXPECT_TRUE(Proveedor::snapshot(kAhora, true).foto.enlazada);
    EXPECT_EQ(Proveedor::snapshot(kAhora, true).foto.totalPendientes, 2);
}

TEST_F(Proveedores, CadaPeticionLeeElArchivoDeNuevo) {
    escribir(enlazada(1));
    EXPECT_EQ(Proveedor::timeline("systemSmall", {170, 170}, kAhora).entradas[0].foto.totalPendientes, 2);
    Instantanea otra = enlazada(1);
    otra.totalPendientes = 7;
    escribir(otra);
    EXPECT_EQ(Proveedor::timeline("systemSmall", {170, 170}, kAhora).entradas[0].foto.totalPendientes, 7);
    EXPECT_EQ(ProveedorAgentes::timeline(kAhora).entradas[0].foto.totalPendientes, 7);
}

TEST_F(Proveedores, AgentesUnaEntradaPorAgenteCadaDiezMinutos) {
    escribir(enlazada(3));
    const auto linea = ProveedorAgentes::timeline(kAhora);
    ASSERT_EQ(linea.entradas.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(linea.entradas[size_t(i)].date, kAhora.addSecs(600 * i));
        EXPECT_EQ(linea.entradas[size_t(i)].indice, i);
        EXPECT_EQ(linea.entradas[size_t(i)].foto, linea.entradas[0].foto);
    }
    EXPECT_EQ(linea.recarga.tipo, Recarga::alFinal);
    EXPECT_EQ(linea.recarga.cuando, kAhora.addSecs(1200));
    // The agents widget never records its size.
    EXPECT_FALSE(QFile::exists(*Tamanos::archivo()));
}

TEST_F(Proveedores, AgentesSinAgentes) {
    struct Caso {
        const char* nombre;
        int agentes;  // -1: no key
    };
    for (const Caso c : {Caso{"ausentes", -1}, Caso{"vacios", 0}}) {
        escribir(enlazada(c.agentes));
        // Quick display: the demo agents; timeline: one entry with the real snapshot.
        EXPECT_EQ(ProveedorAgentes::snapshot(kAhora).foto, Instantanea::ejemplo()) << c.nombre;
        EXPECT_EQ(ProveedorAgentes::snapshot(kAhora).indice, 0) << c.nombre;
        const auto linea = ProveedorAgentes::timeline(kAhora);
        ASSERT_EQ(linea.entradas.size(), 1u) << c.nombre;
        EXPECT_EQ(linea.entradas[0].indice, 0);
        EXPECT_TRUE(linea.entradas[0].foto.enlazada);
        EXPECT_EQ(linea.entradas[0].foto.totalPendientes, 2);
    }
    // Unlinked: the demo in the quick display even when not a preview.
    SetUp();
    EXPECT_EQ(ProveedorAgentes::snapshot(kAhora).foto, Instantanea::ejemplo());
    EXPECT_EQ(ProveedorAgentes::placeholder(kAhora).foto, Instantanea::ejemplo());
}

TEST(ProximaRecarga, NuncaEnBucle) {
    // The shared provider: after 900 s as asked.
    EXPECT_EQ(proximaRecarga({Recarga::despues, kAhora.addSecs(900)}, kAhora, kAhora), kAhora.addSecs(900));
    // Agents: at the last entry's date...
    EXPECT_EQ(proximaRecarga({Recarga::alFinal, {}}, kAhora.addSecs(1200), kAhora), kAhora.addSecs(1200));
    // ...but a timeline that ends at once (one agent) waits the minimum, and so does a past date.
    EXPECT_EQ(proximaRecarga({Recarga::alFinal, {}}, kAhora, kAhora), kAhora.addSecs(kRecargaMinimaSegundos));
    EXPECT_EQ(proximaRecarga({Recarga::despues, kAhora.addSecs(-5)}, kAhora, kAhora),
              kAhora.addSecs(kRecargaMinimaSegundos));
    EXPECT_EQ(proximaRecarga({Recarga::despues, {}}, kAhora, kAhora), kAhora.addSecs(kRecargaMinimaSegundos));
}

}  // namespace
