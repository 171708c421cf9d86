// Which pre-launch mode an argument list chooses, and the values of the switches.
#include "zentu/app/Interruptores.h"

#include <gtest/gtest.h>

using Interruptores::Eleccion;
using Interruptores::Previo;

TEST(Interruptores, ElPrimeroQueValeDecide) {
    const QString z = QStringLiteral("zentu");
    const struct {
        QStringList argumentos;
        Eleccion eleccion;
    } casos[] = {
        {{z}, {}},
        {{z, "--captura", "/tmp/a", "--sonar"}, {Previo::captura, "/tmp/a"}},
        {{z, "--sonar", "--captura", "/tmp/a"}, {Previo::captura, "/tmp/a"}},
        // A value switch standing last is ignored; the next test runs.
        {{z, "--captura-widgets", "/tmp/w", "--captura"}, {Previo::capturaWidgets, "/tmp/w"}},
        {{z, "--captura"}, {}},
        {{z, "--captura-widgets"}, {}},
        {{z, "--sonar", "--probar-ws"}, {Previo::probarWs, ""}},
        {{z, "--enlazar-portapapeles", "--sonar"}, {Previo::sonar, ""}},
        {{z, "--enlazar-portapapeles"}, {Previo::enlazarPortapapeles, ""}},
        // The value is the argument right after the first occurrence, whatever it is.
        {{z, "--captura", "--sonar", "--captura", "/tmp/b"}, {Previo::captura, "--sonar"}},
        {{z, "--abrir", "--chat"}, {}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.argumentos.join(' ').toStdString());
        EXPECT_EQ(Interruptores::elegir(c.argumentos), c.eleccion);
    }
}

TEST(Interruptores, ValoresDespuesDeLaLlegada) {
    const QStringList a = {"zentu", "--probar-atajo", "¿Cómo vamos?", "--probar-envio", "/tmp/x.pdf", "--probar-conversacion"};
    EXPECT_EQ(Interruptores::valor(a, "--probar-atajo"), QStringLiteral("¿Cómo vamos?"));
    EXPECT_EQ(Interruptores::valor(a, "--probar-envio"), QStringLiteral("/tmp/x.pdf"));
    EXPECT_EQ(Interruptores::valor(a, "--probar-conversacion"), std::nullopt);
    EXPECT_EQ(Interruptores::valor(a, "--chat"), std::nullopt);
}

TEST(Interruptores, LosSonidosDeLaDemostracion) {
    QStringList nombres;
    for (int i = 0; i < 7; ++i) nombres << Interruptores::nombreCue(i);
    EXPECT_EQ(nombres, (QStringList{"enviado", "llego", "hecho", "descartado", "captura", "recibido", "error"}));
}
