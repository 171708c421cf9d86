#pragma once

#include "compartido/Instantanea.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/Atajo.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QMenu;

// The tray menu as plain data, so that its texts, order and states can be checked without a
// desktop, and one function that turns it into the QMenu the tray exports. The tray protocol
// has no subtitles or section headers: a subtitle follows the title after " — " and a header is
// a disabled item.
namespace MenuBandeja {

enum class Accion {
    ninguna,
    llamada,
    chat,
    pantalla,
    zona,
    ajustes,
    actualizaciones,
    enlazar,
    salir,
    agentes,          // "Ver el equipo…"
    alternarAgente,   // pause or resume the agent whose id is `etiqueta`
};

struct Elemento {
    enum class Tipo { accion, separador, encabezado, submenu };
    Tipo tipo = Tipo::accion;
    QString titulo;
    QString subtitulo;                              // empty: none
    QString ayuda;                                  // tooltip; empty: none
    std::optional<Combinacion::TeclaMenu> tecla;    // key shown beside the item
    Accion accion = Accion::ninguna;
    qint64 etiqueta = 0;                            // the agent's id
    bool habilitado = true;
    std::optional<bool> marcado;                    // agents show whether they are active
    std::vector<Elemento> hijos;                    // the submenu's items

    // What the tray shows as the item's one line.
    QString texto() const;
};

// What the menu depends on. A hot key is none when it does not work (the desktop kept its
// combination, or the session hands no global keys to programs): the menu then offers the action
// without a key. `agentes` is none without a widget feeder or when its snapshot has no agent list.
struct Datos {
    std::optional<Combinacion> llamada, conversacion, pantalla, zona, chat;
    std::optional<Cuenta> cuenta;
    std::optional<std::vector<Instantanea::Agente>> agentes;
};

std::vector<Elemento> construir(const Datos& datos);

// "Zentu AI · llamada Alt+Espacio · conversación Alt+Mayús+Espacio"; a hot key that does not
// work is left out.
QString ayudaIcono(const std::optional<Combinacion>& llamada, const std::optional<Combinacion>& conversacion);

// The tooltip of the pending count: "1 decisión espera por ti", "3 decisiones esperan por ti";
// none below 1 (the tooltip then stays as it was).
std::optional<QString> ayudaContador(int total);

// The agent's name as the menu shows it: first character upper-cased, "_" as spaces.
QString nombreAgente(const QString& nombre);

// "2 trabajando" or "2 trabajando · 1 en pausa".
QString subtituloAgentes(const std::vector<Instantanea::Agente>& agentes);

// Removes every action of `menu` and of its submenus. Qt frees the exported (D-Bus) entry of an
// action when the action leaves its menu, not when the menu is destroyed: a menu is emptied so
// before it goes.
void vaciar(QMenu& menu);

// Fills `menu` (emptied first) with the items; a chosen item calls `alElegir` with it.
void llenar(QMenu& menu, const std::vector<Elemento>& elementos,
            const std::function<void(Accion, qint64)>& alElegir);

// The tray icon: a circle of diameter 15 and two ellipses 15 × 6.4 turned by 60° and 120°,
// stroked 1.3 wide on an 18 × 18 grid in `tinta` over an outline `kContorno` wider on each side
// in the opposite shade (`contorno`), drawn `lado` pixels square. With a pending count of 1 or
// more the count is painted over the icon's lower right corner.
inline constexpr double kContorno = 0.7;
QColor contorno(const QColor& tinta);
QImage dibujarIcono(int lado, const QColor& tinta, int total = 0);
// The badge's figures ("0"–"9", "+") as strokes, each 4 × 6 with 1.4 between them.
QPainterPath cifras(const QString& texto);
QIcon icono(const QColor& tinta, int total = 0);

}  // namespace MenuBandeja
