#pragma once

#include "compartido/EnlaceZentu.h"

#include <QByteArray>
#include <QDateTime>
#include <QSizeF>
#include <QString>
#include <optional>
#include <vector>

// The business state that the desktop widgets show, and, in the tray app, the in-memory model of
// agents, credits and the day. Both executables share it through "instantanea.json" in the shared
// folder (plataforma/Contenedor.h): the app writes it, the widget host and the app read it.
//
// File format: one compact JSON object whose keys are the field names below. Every field is
// required except `creditos`, `dia`, `agentes`, `Creditos::cupo`, `restantes`, `porDia` and
// `Dia::solas`; the writer omits an optional without value and the reader takes a missing key or
// null as "no value". Unknown keys are ignored. Dates are RFC 3339 without fractional seconds
// (written in UTC with "Z"). One bad value anywhere makes the whole file unreadable.
struct Instantanea {
    struct Duda {
        qint64 id = 0;
        QString agente;
        QString pregunta;
        QDateTime fecha;
        bool operator==(const Duda&) const = default;
    };

    struct Agente {
        qint64 id = 0;
        QString nombre;
        QString categoria;
        bool activo = false;
        qint64 conversaciones = 0;
        bool coordinador = false;
        bool operator==(const Agente&) const = default;
    };

    struct Creditos {
        struct Dia {
            QString dia;  // "2026-10-05"
            qint64 creditos = 0;
            bool operator==(const Dia&) const = default;
        };
        qint64 usados = 0;
        std::optional<qint64> cupo;
        std::optional<qint64> restantes;
        std::optional<std::vector<Dia>> porDia;
        bool operator==(const Creditos&) const = default;
    };

    struct Dia {
        struct Barra {
            QString dia;  // one letter: L M X J V S D
            qint64 n = 0;
            bool operator==(const Barra&) const = default;
        };
        struct Hecho {
            QString texto;
            QString agente;
            QDateTime cuando;
            bool operator==(const Hecho&) const = default;
        };
        qint64 conversacionesHoy = 0;
        qint64 conversacionesAyer = 0;
        qint64 mensajesHoy = 0;
        std::optional<qint64> solas;  // whole percentage
        std::vector<Barra> semana;
        std::vector<Hecho> actividad;
        bool operator==(const Dia&) const = default;
    };

    bool enlazada = false;
    QString negocio;
    qint64 totalPendientes = 0;
    std::vector<Duda> dudas;
    qint64 permisos = 0;
    std::optional<Creditos> creditos;
    std::optional<Dia> dia;
    std::optional<std::vector<Agente>> agentes;
    QDateTime actualizado = pasadoLejano();

    bool operator==(const Instantanea&) const = default;

    // Full path of "instantanea.json" in the shared folder; none without a shared folder.
    static std::optional<QString> archivo();

    // The one decoder of the file format. None (with the reason in `error`, if given) when the
    // bytes are not a snapshot under the rules above.
    static std::optional<Instantanea> decodificar(const QByteArray& bytes, QString* error = nullptr);
    // The one encoder: compact JSON, dates in UTC whole seconds; a moment before the year 1 or after
    // 9999 is written as the first or last second of those years. None when a date is invalid.
    std::optional<QByteArray> codificar() const;

    // Writes the snapshot atomically to `archivo()`; failures are logged, the previous file stays.
    void guardar() const;
    // The snapshot in the file, or `vacia()` when there is no folder, no file or no valid content.
    static Instantanea leer();

    static const Instantanea& vacia();
    // The demo snapshot: built once per process, its relative times fixed at that moment.
    static const Instantanea& ejemplo();
    // Sentinel earlier than any real date: 0001-01-01T00:00:00Z.
    static QDateTime pasadoLejano();

    // Date texts of the file format.
    static QString fechaATexto(const QDateTime& fecha);           // empty when not writable
    static std::optional<QDateTime> textoAFecha(const QString& texto);  // strict
};

// The widget-size file "tamanos.json" in the shared folder: family name -> [width, height].
// The widget host records each family's size; the app only reads it.
namespace Tamanos {

std::optional<QString> archivo();

// Records `tamano` under `familia` ("systemSmall", ...), keeping the other families' entries.
// A missing or malformed file starts afresh. Every failure is silent.
void anotar(const QString& familia, QSizeF tamano);

}  // namespace Tamanos
