#pragma once

#include "compartido/Instantanea.h"
#include "plataforma/EsquemaColor.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class ModeloAjustes;
class QGridLayout;
class QLabel;
class QPushButton;

// The agents block of the status pane: a grid of faces with first names, the busiest first, 9
// columns by 1 or 3 rows; the last cell gathers the agents that do not fit. Clicking a face opens
// a bubble with the agent's state and a button that pauses or resumes it through the model.
class EquipoAgentes : public QWidget {
    Q_OBJECT
public:
    static constexpr int columnas = 9;

    EquipoAgentes(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);
    ~EquipoAgentes() override;

    // More conversations first; on equal counts the active before the paused; else as given.
    static std::vector<Instantanea::Agente> ordenados(const std::vector<Instantanea::Agente>& agentes);
    // The faces the grid shows and the agents gathered in the last cell (none when all fit).
    struct Reparto {
        std::vector<Instantanea::Agente> caras;
        std::vector<Instantanea::Agente> resto;
    };
    static Reparto repartir(const std::vector<Instantanea::Agente>& agentes, int filas);
    // The first piece of the name (cut at "_", " " and "-"), capitalised: "Soporte".
    static QString nombreCorto(const QString& nombre);
    // The name with "_" as spaces, capitalised: "Soporte Tecnico".
    static QString nombreLargo(const QString& nombre);
    // "En pausa", "Activo", "Atendiendo 1 chat", "Atendiendo 4 chats".
    static QString estado(const Instantanea::Agente& agente);
    // "3 de 5 activos", over all agents.
    static QString cuenta(const std::vector<Instantanea::Agente>& agentes);

    void setFoto(const Instantanea& foto);
    void setFilas(int filas);
    int filas() const { return filas_; }

    // The bubbles, as the window's state sees them.
    std::optional<qint64> agenteAbierto() const { return agenteAbierto_; }
    bool restoAbierto() const { return restoAbierto_; }
    bool cambiandoAgente() const { return cambiandoAgente_; }
    void abrirAgente(std::optional<qint64> id);
    void abrirResto(bool si);
    // The bubble of the open agent (for pictures and tests).
    QWidget* burbuja() const { return burbuja_; }
    QWidget* burbujaResto() const { return burbujaResto_; }

    // Pauses or resumes the agent (the opposite of its state in the snapshot); then the notice
    // when it failed, the snapshot read again, and the bubble closed.
    QCoro::Task<void> cambiar(Instantanea::Agente agente);

    // A failed change's text for the notice line.
    std::function<void(const QString&)> alAviso;
    // Asks the window to read the snapshot again (it then calls setFoto).
    std::function<void()> alReleer;

private:
    void reconstruir();
    QWidget* celda(const Instantanea::Agente& a, QWidget* padre);
    QWidget* crearBurbuja(const Instantanea::Agente& a);
    // The cell that shows the agent (in the grid or in the overflow bubble); the block without one.
    const QWidget* celdaDe(qint64 id) const;
    void cerrarBurbujas();

    ModeloAjustes& modelo_;
    Esquema esquema_;
    int filas_ = 1;
    std::vector<Instantanea::Agente> agentes_;
    QLabel* cuenta_;
    QGridLayout* rejilla_;
    QWidget* contenedor_;
    std::optional<qint64> agenteAbierto_;
    bool restoAbierto_ = false;
    bool cambiandoAgente_ = false;
    QPointer<QWidget> burbuja_;
    QPointer<QWidget> burbujaResto_;
    std::vector<QPointer<QPushButton>> botones_;
};
