#pragma once

#include "compartido/Iconos.h"
#include "compartido/Instantanea.h"
#include "plataforma/EsquemaColor.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/Permisos.h"

#include <QString>
#include <QStringList>
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

    // What this computer lacks, one row of the block each: its title, its note and what its
    // button does. A row without a button says why nothing here can give it.
    struct Falta {
        enum class Boton { ninguno, darPermiso, reabrir };
        QString titulo;
        QString nota;
        Boton boton = Boton::ninguno;
        std::optional<Permiso> permiso;  // what "Dar permiso" asks for
        bool operator==(const Falta&) const = default;
    };
    struct Sistema {
        bool microfono = false;          // authorised
        bool pantallaFunciona = false;   // the last probe
        bool pantallaPermitida = false;  // the session's preflight
        bool pantallaOfrecida = true;    // the desktop offers screen capture at all
        bool accesibilidad = false;      // global keys reach the program in this session
        bool wayland = false;            // the session is Wayland (why keys do not reach it)
        QStringList atajosOcupados;      // hot keys the desktop refused to hand over, as written
    };
    static std::vector<Falta> faltan(const Sistema& sistema);
    static Sistema sistemaActual(const ModeloAjustes& modelo);
    // Why global keys do not work in this session ("no funcionan en una sesión Wayland").
    static QString motivoSinTeclas(bool wayland);
    // Whether the hot key of an action works here (its key caps show on the quick actions), given
    // whether global keys reach the program in this session at all.
    static bool atajoFunciona(const ModeloAjustes& modelo, Atajos::Cual cual, bool teclasAqui);

    PanelEstado(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);

    void setFoto(const Instantanea& foto);
    void setAviso(const std::optional<QString>& aviso);
    void setGrande(bool grande);
    // Evaluates the permissions again and rebuilds their block.
    void actualizarPermisos();

    EquipoAgentes* equipo() const { return equipo_; }
    const std::array<QWidget*, 3>& tiles() const { return tiles_; }
    QLabel* aviso() const { return aviso_; }

private:
    void actualizarTeclas();

    ModeloAjustes& modelo_;
    Esquema esquema_;
    std::array<QWidget*, 3> tiles_{};
    std::array<QLabel*, 3> valores_{};
    std::array<QLabel*, 3> notas_{};
    std::vector<QWidget*> tarjetas_;
    QVBoxLayout* bloqueMac_;
    QWidget* permisos_ = nullptr;
    EquipoAgentes* equipo_;
    QLabel* aviso_;
};
