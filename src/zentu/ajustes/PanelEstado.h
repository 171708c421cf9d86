#pragma once

#include "compartido/Iconos.h"
#include "compartido/Instantanea.h"
#include "plataforma/EsquemaColor.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/Permisos.h"

#include <QString>
#include <QWidget>
#include <array>
#include <optional>
#include <vector>

class EquipoAgentes;
class ModeloAjustes;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// The first pane of the settings window: the day's three figures, four quick actions with their
// hot keys, what this computer still lacks (or that it is ready), the agents and a notice line.
class PanelEstado : public QWidget {
    Q_OBJECT
public:
    struct Cifra {
        QString valor;
        QString titulo;
        std::optional<QString> nota;
        bool resaltar = false;
        bool operator==(const Cifra&) const = default;
    };
    // The three day tiles of a snapshot.
    static std::array<Cifra, 3> cifras(const Instantanea& foto);
    // "igual que ayer", "3 más que ayer", "2 menos que ayer".
    static QString comparacion(qint64 hoy, qint64 ayer);

    struct Accion {
        QString nombre;  // handed to the model's `accion`
        QString titulo;
        Icono icono;
        bool principal;
    };
    static const std::array<Accion, 4>& acciones();

    // What the permission block shows: each missing permission and, for the screen, whether it
    // is granted but needs a restart.
    struct Falta {
        Permiso permiso;
        bool reabrir = false;
        bool operator==(const Falta&) const = default;
    };
    struct Sistema {
        bool microfono = false;         // authorised
        bool pantallaFunciona = false;  // the last probe
        bool pantallaPermitida = false; // the session's preflight
        bool accesibilidad = false;     // global keys can be taken
    };
    static std::vector<Falta> faltan(const Sistema& sistema, bool fnControl);
    static Sistema sistemaActual();
    static QString tituloPermiso(Permiso p);
    static QString notaPermiso(const Falta& f);

    PanelEstado(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);

    void setFoto(const Instantanea& foto);
    void setAviso(const std::optional<QString>& aviso);
    void setGrande(bool grande);
    // Evaluates the permissions again and rebuilds their block.
    void actualizarPermisos();

    EquipoAgentes* equipo() const { return equipo_; }
    QLabel* aviso() const { return aviso_; }

private:
    void actualizarTeclas();

    ModeloAjustes& modelo_;
    Esquema esquema_;
    std::array<QLabel*, 3> valores_{};
    std::array<QLabel*, 3> notas_{};
    std::vector<QWidget*> tarjetas_;
    QVBoxLayout* bloqueMac_;
    QWidget* permisos_ = nullptr;
    EquipoAgentes* equipo_;
    QLabel* aviso_;
};
