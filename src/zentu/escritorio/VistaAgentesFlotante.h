#pragma once

#include "compartido/Instantanea.h"
#include "plataforma/EsquemaColor.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <QCoroTask>
#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QVBoxLayout;

// The agents card's model: the agents in the one display order, the agent whose pause or
// resume is in flight and the last failure. It never talks to the service: every change goes
// through `cambiar`, and the list changes only when the shell replaces it after a refresh.
class ModeloAgentes : public QObject {
    Q_OBJECT
public:
    // None on success, else what went wrong.
    using Cambiar = std::function<QCoro::Task<std::optional<QString>>(qint64 id, bool activo)>;

    ModeloAgentes(std::vector<Instantanea::Agente> lista, Cambiar cambiar, QObject* padre = nullptr);

    const std::vector<Instantanea::Agente>& lista() const { return lista_; }
    std::optional<qint64> cambiando() const { return cambiando_; }
    const std::optional<QString>& aviso() const { return aviso_; }

    // Replaces the list (sorted into the display order).
    void setLista(std::vector<Instantanea::Agente> lista);

    // Pauses the agent when it was shown active, else resumes it.
    QCoro::Task<void> alternar(Instantanea::Agente agente);

    // "Disponible", "1 conversación ahora", "3 conversaciones ahora", "En pausa".
    static QString estado(const Instantanea::Agente& agente);

signals:
    void cambio();

private:
    std::vector<Instantanea::Agente> lista_;
    Cambiar cambiar_;
    std::optional<qint64> cambiando_;
    std::optional<QString> aviso_;
};

// "Tus agentes": one row per agent with its picture, name, state and a switch that pauses or
// resumes it; the coordinator cannot be paused.
class VistaAgentesFlotante : public QWidget {
    Q_OBJECT
public:
    static constexpr double ancho = 380;
    static constexpr double alto = 430;

    VistaAgentesFlotante(ModeloAgentes& m, std::function<void()> cerrar,
                         Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    // The switch of an agent's row; none for the coordinator and while its change is in flight.
    QAbstractButton* interruptor(qint64 id) const;
    QLabel* avisoEtiqueta() const { return aviso_; }

private:
    void reconstruir();

    QPointer<ModeloAgentes> m_;
    Esquema esquema_;
    QWidget* filas_ = nullptr;
    QVBoxLayout* capaFilas_ = nullptr;
    QLabel* aviso_ = nullptr;
    std::vector<std::pair<qint64, QAbstractButton*>> interruptores_;
};
