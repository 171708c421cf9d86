// The agent's tools during a call: the screen look, the farewell, the service's own tools with
// their hand-over, and the start of a call an agent placed.
#include "zentu/voz/Llamada.h"

#include "zentu/voz/Pantalla.h"

#include <QFile>
#include <QJsonDocument>

namespace {

// A list of tool maps; anything else is no list at all.
std::optional<QJsonArray> listaDeHerramientas(const QJsonValue& v) {
    if (!v.isArray()) return std::nullopt;
    const QJsonArray lista = v.toArray();
    for (const auto& h : lista) {
        if (!h.isObject()) return std::nullopt;
    }
    return lista;
}

bool tiene(const QJsonArray& herramientas, const QString& nombre) {
    for (const auto& h : herramientas) {
        const QJsonValue n = h.toObject().value("name");
        if (n.isString() && n.toString() == nombre) return true;
    }
    return false;
}

}  // namespace

const QJsonObject& Llamada::herramientaVerPantalla() {
    static const QJsonObject herramienta{
        {"type", "function"},
        {"name", "ver_pantalla"},
        {"description",
         QStringLiteral("Mira lo que el dueño tiene ahora en la pantalla de su equipo (la ventana que tiene delante). "
                        "Úsala cuando te pida que mires, veas, revises o leas algo de su pantalla: «mira mi pantalla», "
                        "«¿qué ves aquí?», «léeme este correo». Recibirás la imagen justo después.")},
        {"parameters", QJsonObject{{"type", "object"}, {"properties", QJsonObject()}}},
    };
    return herramienta;
}

void Llamada::anadirVerPantalla(const QJsonObject& sesion) {
    QJsonArray herramientas = listaDeHerramientas(sesion.value("tools")).value_or(QJsonArray());
    if (herramientas.isEmpty()) {
        registrar(QStringLiteral("[llamada] la sesión no trae herramientas: ver_pantalla no se añade"));
        return;
    }
    if (tiene(herramientas, QStringLiteral("ver_pantalla"))) return;
    herramientas.append(herramientaVerPantalla());
    enviar(QJsonObject{{"type", "session.update"},
                       {"session", QJsonObject{{"type", "realtime"}, {"tools", herramientas}}}});
    registrar(QStringLiteral("[llamada] herramienta ver_pantalla añadida (%1 en total)").arg(herramientas.size()));
}

void Llamada::responder(const QString& callId, const QString& texto) {
    enviar(QJsonObject{{"type", "conversation.item.create"},
                       {"item", QJsonObject{{"type", "function_call_output"}, {"call_id", callId}, {"output", texto}}}});
    enviar(QJsonObject{{"type", "response.create"}});
}

void Llamada::herramienta(const QString& nombre, const QString& argumentos, const QString& callId) {
    if (nombre == u"ver_pantalla") {
        registrar(QStringLiteral("[llamada] Zentu pidió ver la pantalla"));
        [[maybe_unused]] auto tarea = verPantalla(callId);
    } else if (nombre == u"colgar") {
        despidiendo_ = true;
        responder(callId, QStringLiteral("Despídete en una frase y cuelgo yo en cuanto termines de hablar."));
        programarColgado(12);
    } else {
        registrar(QStringLiteral("[llamada] herramienta ") + nombre);
        [[maybe_unused]] auto tarea = herramientaRemota(nombre, argumentos, callId);
    }
}

QCoro::Task<void> Llamada::verPantalla(QString callId) {
    QPointer<Llamada> yo(this);
    QString error;
    QByteArray jpeg;
    try {
        if (!capturarPantalla) throw ErrorZentu::servidor(QStringLiteral("no hay captura de pantalla en este equipo"));
        const QString ruta = co_await capturarPantalla();
        QFile archivo(ruta);
        if (!archivo.open(QIODevice::ReadOnly)) {
            error = archivo.errorString();
        } else {
            jpeg = archivo.readAll();
            archivo.close();
        }
        // The picture of the owner's screen goes in the message; nothing of it stays on disk,
        // also when the call ended meanwhile.
        if (!ruta.isEmpty()) QFile::remove(ruta);
    } catch (const Pantalla::Error& e) {
        error = e.texto();
    } catch (const FalloZentu& e) {
        error = e.descripcion();
    }
    if (!yo) co_return;
    if (!error.isEmpty()) {
        responder(callId, QStringLiteral("No pude ver la pantalla: ") + error);
        co_return;
    }
    enviar(QJsonObject{
        {"type", "conversation.item.create"},
        {"item", QJsonObject{{"type", "function_call_output"},
                             {"call_id", callId},
                             {"output", QStringLiteral("Captura tomada: la imagen de su pantalla va en el mensaje siguiente.")}}}});
    enviar(QJsonObject{
        {"type", "conversation.item.create"},
        {"item", QJsonObject{{"type", "message"},
                             {"role", "user"},
                             {"content", QJsonArray{QJsonObject{
                                             {"type", "input_image"},
                                             {"image_url", QStringLiteral("data:image/jpeg;base64,") +
                                                               QString::fromLatin1(jpeg.toBase64())}}}}}}});
    enviar(QJsonObject{{"type", "response.create"}});
}

QCoro::Task<void> Llamada::herramientaRemota(QString nombre, QString argumentos, QString callId) {
    QPointer<Llamada> yo(this);
    const QString respaldo = QStringLiteral("No pude ejecutar ") + nombre + QStringLiteral(" ahora mismo.");
    QJsonObject cuerpo;
    cuerpo.insert(QStringLiteral("agente"), agente_ ? QJsonValue(*agente_) : QJsonValue(QJsonValue::Null));
    cuerpo.insert(QStringLiteral("nombre"), nombre);
    cuerpo.insert(QStringLiteral("argumentos"), argumentos);
    if (consulta_) cuerpo.insert(QStringLiteral("consulta"), static_cast<qint64>(*consulta_));
    QJsonObject respuesta;
    bool bien = true;
    try {
        respuesta = co_await API::pedir(cuenta_, QStringLiteral("/api/v1/llamada/realtime/tool"), QStringLiteral("POST"),
                                        cuerpo, 90);
    } catch (const FalloZentu&) {
        bien = false;
    }
    if (!yo) co_return;
    const QJsonValue resultado = respuesta.value("resultado");
    if (!bien || !resultado.isString()) {
        responder(callId, respaldo);
        co_return;
    }
    if (respuesta.value("pase").isObject()) pasar(respuesta.value("pase").toObject());
    responder(callId, resultado.toString());
}

void Llamada::pasar(const QJsonObject& pase) {
    const QJsonValue instrucciones = pase.value("instructions");
    const auto lista = listaDeHerramientas(pase.value("tools"));
    if (!instrucciones.isString() || !lista) return;
    QJsonArray herramientas = *lista;
    if (!tiene(herramientas, QStringLiteral("ver_pantalla"))) herramientas.append(herramientaVerPantalla());
    enviar(QJsonObject{{"type", "session.update"},
                       {"session", QJsonObject{{"type", "realtime"},
                                               {"instructions", instrucciones.toString()},
                                               {"tools", herramientas}}}});
    agente_.reset();
    if (pase.value("agente").isString()) agente_ = pase.value("agente").toString();
    registrar(QStringLiteral("[llamada] pasada a ") + agente_.value_or(QStringLiteral("Zentu")) +
              QStringLiteral(" · %1 herramientas").arg(herramientas.size()));
}

void Llamada::arrancarLlamadaEntrante() {
    esperandoDisparo_ = true;
    enviar(QJsonObject{
        {"type", "conversation.item.create"},
        {"item", QJsonObject{{"type", "message"},
                             {"role", "system"},
                             {"content", QJsonArray{QJsonObject{
                                             {"type", "input_text"},
                                             {"text", QStringLiteral("El dueño acaba de descolgar el teléfono que TÚ hiciste sonar; "
                                                                     "quizá solo dijo «aló». Arranca tú, como te toca.")}}}}}}});
    disparo_ = reloj_.programar(2.0, this, [this] { enviar(QJsonObject{{"type", "response.create"}}); });
}
