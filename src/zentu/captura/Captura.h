#pragma once

#include "compartido/VistasWidgets.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/EstadoVoz.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The developer mode that draws the program's own views, filled with built-in demo data, into
// PNG files at scale 2 (two pixels per point): the island in its states, the pairing view, chat
// bubbles, attachment badges and the settings panes (`hacer`); the floating cards and every
// widget size (`widgets`). Everything runs on the main thread, synchronously, with no account,
// network or audio device, and nothing outlives a call. A picture that cannot be drawn or
// written is skipped in silence; the folder is never created.
class Captura {
public:
    Captura() = delete;

    // The 28 pictures of the island, pairing, bubbles, attachments and settings.
    static void hacer(const QString& carpeta);
    // The 6 pictures of the cards and widget sheets. Sets CapturaW::activa for good.
    static void widgets(const QString& carpeta);

    // One island state drawn by `hacer`.
    struct EstadoIsla {
        QString nombre;
        Fase fase = Fase::reposo;
        bool silencio = false;
        std::optional<QString> aviso;
        bool modoChat = false;
        bool vozEnChat = false;
        double nivelBruto = 0;
    };
    // The five voice states, then the two chat states, in drawing order.
    static const std::vector<EstadoIsla>& estadosIsla();

    // The two demo messages (the owner's, then the agent's), dated `ahora`.
    static QList<ChatZentu::Mensaje> mensajesDemo(const QDateTime& ahora);
    // The badge names of the attachments picture, and the badge shown when there is no thumbnail.
    static const QStringList& nombresAdjuntos();
    static inline const QString nombreSinMiniatura = QStringLiteral("x.pdf");
    // The account the settings panes show.
    static Cuenta cuentaDemo();
    // The three open questions of the decision card, in the service's list shape, their
    // "created_at" 600, 3600 and 7200 s before `ahora`.
    static QJsonArray preguntasDemo(const QDateTime& ahora);

    // Widget family sizes in points, one entry per family.
    using Tamanos = std::map<FamiliaW, QSizeF>;
    static Tamanos tamanosPorDefecto();
    // From the contents of "tamanos.json": an object of lists of numbers (width, height, and
    // anything further ignored). Anything else as a whole gives all defaults; a family that is
    // missing, has fewer than two numbers or an unusable size keeps its default.
    static Tamanos tamanosDesde(const std::optional<QByteArray>& json);
    // The same, read from the shared folder's file.
    static Tamanos tamanosDelArchivo();
    // Sizes beyond this many points on a side are not a widget's and are taken as unusable.
    static constexpr double ladoMaximo = 2000;

    // The local PDF the attachments picture shows; replaceable (tests point it elsewhere).
    static QString& pdfMuestra();
    // How long the thumbnail may take before the placeholder badge is used, in milliseconds.
    static inline int esperaMiniatura = 10000;

    // Told of every picture written, by name without extension, in order.
    static inline std::function<void(const QString&)> alEscribir;
};
