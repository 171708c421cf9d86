// The window-system platform the two programs ask Qt for, by the session they start in.
#include "plataforma/PlataformaQt.h"

#include <QMap>
#include <gtest/gtest.h>

namespace {

PlataformaQt::Entorno entorno(QMap<QByteArray, QByteArray> variables) {
    return [variables](const char* nombre) { return variables.value(nombre); };
}

TEST(PlataformaQt, SegunLaSesion) {
    struct Caso {
        const char* que;
        QMap<QByteArray, QByteArray> variables;
        std::optional<QByteArray> plataforma;
        bool escritorio;
    };
    const std::vector<Caso> casos = {
        {"X11", {{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}, std::nullopt, true},
        {"Wayland con XWayland", {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, "xcb;wayland", true},
        {"sesión Wayland sin WAYLAND_DISPLAY", {{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}}, "xcb;wayland", true},
        {"Wayland sin XWayland", {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_SESSION_TYPE", "wayland"}}, std::nullopt, true},
        {"el dueño eligió", {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}},
         std::nullopt, true},
        {"sin pantalla", {}, std::nullopt, false},
        {"sin pantalla, plataforma elegida", {{"QT_QPA_PLATFORM", "offscreen"}}, std::nullopt, true},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(PlataformaQt::elegir(entorno(c.variables)), c.plataforma) << c.que;
        EXPECT_EQ(PlataformaQt::hayEscritorio(entorno(c.variables)), c.escritorio) << c.que;
    }
}

TEST(PlataformaQt, ArgumentosParaLaAplicacion) {
    char programa[] = "zentu", chat[] = "--chat", enlace[] = "zuzadari://chat";
    char* argv[] = {programa, chat, enlace, nullptr};
    auto lista = [](PlataformaQt::Argumentos& a) {
        QList<QByteArray> r;
        for (int i = 0; i < a.argc(); ++i) r << a.argv()[i];
        EXPECT_EQ(a.argv()[a.argc()], nullptr);
        return r;
    };
    PlataformaQt::Argumentos enWayland(3, argv, entorno({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}));
    EXPECT_EQ(lista(enWayland), (QList<QByteArray>{"zentu", "-platform", "xcb;wayland", "--chat", "zuzadari://chat"}));
    PlataformaQt::Argumentos enX11(3, argv, entorno({{"DISPLAY", ":0"}}));
    EXPECT_EQ(lista(enX11), (QList<QByteArray>{"zentu", "--chat", "zuzadari://chat"}));
}

}  // namespace
