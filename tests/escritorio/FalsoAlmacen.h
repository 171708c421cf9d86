#pragma once
// A pending store for the decision card's tests: lists that a test edits, calls recorded, and
// answers scripted per call, each arriving after a short real wait so that a test can act
// while one is in flight.

#include "zentu/escritorio/ModeloDudas.h"

#include <QStringList>
#include <QTimer>
#include <QCoroTimer>
#include <deque>

struct FalsoAlmacen {
    QList<QJsonObject> dudas, permisos;
    QStringList llamadas;
    std::deque<Pendientes::ResultadoDuda> respuestas;       // default: answered
    std::deque<std::optional<QString>> resultados;           // discards and decisions; default: ok
    int esperaMs = 20;
    // Whether a successful operation removes its item, as the real store does.
    bool quitarAlAcertar = true;

    static QCoro::Task<void> pausa(int ms) {
        QTimer t;
        t.setSingleShot(true);
        t.start(ms);
        co_await t;
    }

    ModeloDudas::Almacen almacen() {
        ModeloDudas::Almacen a;
        a.listaDudas = [this] { return dudas; };
        a.permisos = [this] { return permisos; };
        a.responder = [this](qint64 id, QString texto) -> QCoro::Task<Pendientes::ResultadoDuda> {
            llamadas << QStringLiteral("responder %1 «%2»").arg(id).arg(texto);
            co_await pausa(esperaMs);
            Pendientes::ResultadoDuda r = Pendientes::Respondida{};
            if (!respuestas.empty()) {
                r = respuestas.front();
                respuestas.pop_front();
            } else if (texto.trimmed().size() < 2) {
                r = Pendientes::Fallo{QStringLiteral("Escribe una respuesta.")};
            }
            if (std::holds_alternative<Pendientes::Respondida>(r) && quitarAlAcertar) quitar(dudas, id);
            co_return r;
        };
        a.descartar = [this](qint64 id) -> QCoro::Task<std::optional<QString>> {
            llamadas << QStringLiteral("descartar %1").arg(id);
            co_await pausa(esperaMs);
            auto r = siguiente();
            if (!r && quitarAlAcertar) quitar(dudas, id);
            co_return r;
        };
        a.decidir = [this](qint64 id, bool aprobar, std::optional<QString> texto) -> QCoro::Task<std::optional<QString>> {
            llamadas << QStringLiteral("decidir %1 %2 %3").arg(id).arg(aprobar ? "aprobar" : "rechazar")
                            .arg(texto ? QStringLiteral("«") + *texto + QStringLiteral("»") : QStringLiteral("-"));
            co_await pausa(esperaMs);
            auto r = siguiente();
            if (!r && quitarAlAcertar) quitar(permisos, id);
            co_return r;
        };
        return a;
    }

private:
    std::optional<QString> siguiente() {
        if (resultados.empty()) return std::nullopt;
        auto r = resultados.front();
        resultados.pop_front();
        return r;
    }
    static void quitar(QList<QJsonObject>& lista, qint64 id) {
        lista.removeIf([id](const QJsonObject& o) { return ModeloDudas::idDe(o) == id; });
    }
};

inline QJsonObject duda(qint64 id, const QString& pregunta = QStringLiteral("¿?")) {
    return QJsonObject{{"id", id}, {"question", pregunta}, {"agent_name", "ventas"}};
}
