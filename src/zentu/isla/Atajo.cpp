#include "zentu/isla/Atajo.h"

#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Teclado.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// Combinacion

QStringList Combinacion::piezas() const {
    QStringList p;
    if (modificadores & Teclado::control) p << QStringLiteral("Ctrl");
    if (modificadores & Teclado::option) p << QStringLiteral("Alt");
    if (modificadores & Teclado::shift) p << QStringLiteral("Mayús");
    if (modificadores & Teclado::command) p << QStringLiteral("Super");
    p << nombre(tecla);
    return p;
}

QString Combinacion::texto() const { return piezas().join(QLatin1Char('+')); }

std::optional<Combinacion::TeclaMenu> Combinacion::paraMenu() const {
    Qt::KeyboardModifiers mods;
    if (modificadores & Teclado::control) mods |= Qt::ControlModifier;
    if (modificadores & Teclado::option) mods |= Qt::AltModifier;
    if (modificadores & Teclado::shift) mods |= Qt::ShiftModifier;
    if (modificadores & Teclado::command) mods |= Qt::MetaModifier;
    switch (tecla) {
    case 36: return TeclaMenu{QStringLiteral("\r"), mods};
    case 48: return TeclaMenu{QStringLiteral("\t"), mods};
    case 49: return TeclaMenu{QStringLiteral(" "), mods};
    case 53: return TeclaMenu{QString(QChar(0x1B)), mods};
    default: break;
    }
    // Only what the layout types makes a key equivalent; a symbol such as "←" would not.
    const std::optional<QString> escrito = Teclado::caracteres(tecla);
    if (!escrito || !Teclado::imprimible(*escrito)) return std::nullopt;
    const QString n = nombre(tecla);
    if (n.toUcs4().size() != 1) return std::nullopt;
    return TeclaMenu{n.toLower(), mods};
}

Combinacion Combinacion::desde(const QKeyEvent& evento) {
    Combinacion c;
    c.tecla = Teclado::desdeCodigoX(evento.nativeScanCode());
    const Qt::KeyboardModifiers m = evento.modifiers();
    if (m & Qt::ControlModifier) c.modificadores |= Teclado::control;
    if (m & Qt::AltModifier) c.modificadores |= Teclado::option;
    if (m & Qt::ShiftModifier) c.modificadores |= Teclado::shift;
    if (m & Qt::MetaModifier) c.modificadores |= Teclado::command;
    return c;
}

namespace {

// What a Spanish PC keyboard prints on the keys that type nothing, by their stored code.
constexpr std::pair<quint32, const char*> rotulos[] = {
    {36, "Intro"},      {76, "Intro"},  {48, "Tab"},    {49, "Espacio"}, {53, "Esc"},     {51, "Retroceso"},
    {117, "Supr"},      {114, "Insert"}, {115, "Inicio"}, {119, "Fin"},   {116, "Re Pág"}, {121, "Av Pág"},
    {59, "Ctrl"},       {62, "Ctrl"},   {58, "Alt"},    {61, "Alt"},     {56, "Mayús"},   {60, "Mayús"},
    {55, "Super"},      {54, "Super"},  {57, "Bloq Mayús"}, {110, "Menú"},
};

// The same for keys named only by the layout's symbol.
constexpr std::pair<const char*, const char*> rotulosX[] = {
    {"Print", "Impr Pant"}, {"Pause", "Pausa"}, {"Scroll_Lock", "Bloq Despl"}, {"Num_Lock", "Bloq Num"},
    {"Menu", "Menú"},       {"Insert", "Insert"},
};

}  // namespace

QString Combinacion::nombre(quint32 tecla) {
    for (const auto& [codigo, rotulo] : rotulos)
        if (codigo == tecla) return QString::fromUtf8(rotulo);
    static constexpr quint32 funciones[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
    for (int i = 0; i < 12; ++i)
        if (funciones[i] == tecla) return QStringLiteral("F%1").arg(i + 1);
    const std::optional<QString> escrito = Teclado::caracteres(tecla);
    if (escrito && Teclado::imprimible(*escrito)) return escrito->left(4).toUpper();
    // Nothing printable (an arrow, a dead key, the keypad with NumLock off): a name people know.
    if (const auto conocido = Teclado::nombreSinCaracter(tecla)) {
        for (const auto& [simbolo, rotulo] : rotulosX)
            if (*conocido == QLatin1String(simbolo)) return QString::fromUtf8(rotulo);
        return *conocido;
    }
    return QStringLiteral("?");
}

QByteArray Combinacion::json() const {
    QJsonObject o;
    o.insert(QStringLiteral("tecla"), static_cast<qint64>(tecla));
    o.insert(QStringLiteral("modificadores"), static_cast<qint64>(modificadores));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Combinacion> Combinacion::desdeJson(const QByteArray& datos) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(datos, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    auto entero = [&](const char* clave) -> std::optional<quint32> {
        const QJsonValue v = o.value(QLatin1String(clave));
        if (!v.isDouble()) return std::nullopt;
        const double d = v.toDouble();
        if (!(d >= 0 && d <= 4294967295.0) || std::floor(d) != d) return std::nullopt;
        return static_cast<quint32>(d);
    };
    const auto tecla = entero("tecla");
    const auto modificadores = entero("modificadores");
    if (!tecla || !modificadores) return std::nullopt;
    return Combinacion{*tecla, *modificadores};
}

// ---------------------------------------------------------------------------------------------
// Atajos

namespace {

QString clave(Atajos::Cual cual) {
    return QStringLiteral("zentu.atajo.%1").arg(static_cast<quint32>(cual));
}

}  // namespace

Atajos::Atajos(TeclasGlobales& teclas, QObject* padre) : QObject(padre), teclas_(teclas) {
    actual_ = this;
    teclas_.alEvento = &Atajos::recibir;
    for (Cual cual : todas) registrar(cual);
}

Combinacion Atajos::porDefecto(Cual cual) {
    constexpr quint32 espacio = 49, p = 35, z = 6, c = 8;
    switch (cual) {
    case Cual::llamada: return {espacio, Teclado::option};
    case Cual::conversacion: return {espacio, Teclado::option | Teclado::shift};
    case Cual::pantalla: return {p, Teclado::option | Teclado::shift};
    case Cual::zona: return {z, Teclado::option | Teclado::shift};
    case Cual::chat: return {c, Teclado::option | Teclado::shift};
    }
    return {espacio, Teclado::option};
}

QString Atajos::nombreDe(Cual cual) {
    switch (cual) {
    case Cual::llamada: return QStringLiteral("la llamada");
    case Cual::conversacion: return QStringLiteral("la conversación");
    case Cual::pantalla: return QStringLiteral("ver la pantalla");
    case Cual::zona: return QStringLiteral("capturar una zona");
    case Cual::chat: return QStringLiteral("abrir el chat");
    }
    return {};
}

Combinacion Atajos::combinacion(Cual cual) {
    const QVariant guardada = Preferencias::almacen().value(clave(cual));
    if (guardada.isValid())
        if (auto c = Combinacion::desdeJson(guardada.toByteArray())) return *c;
    return porDefecto(cual);
}

std::optional<QString> Atajos::registrar(Cual cual) {
    const auto id = static_cast<quint32>(cual);
    if (refs_.erase(cual)) teclas_.quitar(id);
    const Combinacion c = combinacion(cual);
    const int estado = teclas_.registrar(id, c.tecla, c.modificadores);
    if (estado == 0) {
        refs_[cual] = true;
        emit registroCambio();
        return std::nullopt;
    }
    emit registroCambio();
    Registro::escribir(QStringLiteral("[atajo] no se pudo registrar ") + c.texto() + QStringLiteral(" (") +
                       QString::number(estado) + QStringLiteral(")"));
    return QStringLiteral("El escritorio u otra app ya usa ") + c.texto() + QStringLiteral(". Elige otra combinación.");
}

std::optional<QString> Atajos::cambiar(Cual cual, const Combinacion& nueva) {
    for (Cual otra : todas) {
        if (otra == cual) continue;
        if (combinacion(otra) == nueva)
            return QStringLiteral("Esa combinación ya es la de ") + nombreDe(otra) + QStringLiteral(".");
    }
    const Combinacion vieja = combinacion(cual);
    Preferencias::almacen().setValue(clave(cual), nueva.json());
    if (auto mensaje = registrar(cual)) {
        Preferencias::almacen().setValue(clave(cual), vieja.json());
        registrar(cual);
        return mensaje;
    }
    return std::nullopt;
}

void Atajos::restablecer() {
    for (Cual cual : todas) Preferencias::almacen().remove(clave(cual));
    for (Cual cual : todas) registrar(cual);
}

void Atajos::pausar(bool si) {
    if (si) {
        for (const auto& [cual, _] : refs_) teclas_.quitar(static_cast<quint32>(cual));
        refs_.clear();
        emit registroCambio();
    } else {
        for (Cual cual : todas) registrar(cual);
    }
}

void Atajos::recibir(quint32 id, bool soltada) {
    // Delivered from the event loop, never from inside the keyboard layer's own event handling.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [id, soltada] {
            Atajos* atajos = actual_;
            if (!atajos || id < 1 || id > 5) return;
            const auto cual = static_cast<Cual>(id);
            if (soltada) {
                if (atajos->alSoltar) atajos->alSoltar(cual);
            } else if (atajos->alPulsar) {
                atajos->alPulsar(cual);
            }
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------------------------
// TeclasModificadoras

namespace {
const QString claveAcorde = QStringLiteral("zentu.fnControl");
}

TeclasModificadoras::TeclasModificadoras(MonitorTeclado& monitor, Reloj& reloj, QObject* padre)
    : QObject(padre), monitor_(monitor), reloj_(reloj) {
    monitor_.alCambiarModificadores = [this](quint32 mascara) { modificadores(mascara); };
    monitor_.alPulsarTecla = [this] { teclaPulsada(); };
}

TeclasModificadoras::~TeclasModificadoras() {
    monitor_.apagar();
    monitor_.alCambiarModificadores = nullptr;
    monitor_.alPulsarTecla = nullptr;
}

TeclasModificadoras& TeclasModificadoras::shared() {
    static auto* instancia = new TeclasModificadoras(MonitorTeclado::sistema());
    return *instancia;
}

bool TeclasModificadoras::encendido() { return Preferencias::booleano(claveAcorde, true); }

void TeclasModificadoras::encender(bool si) {
    Preferencias::almacen().setValue(claveAcorde, si);
    monitor_.apagar();
    if (!si) {
        // Nothing will report the release any more: a chord in progress ends here.
        pendiente_.cancelar();
        if (sostenido_) {
            sostenido_ = false;
            if (alSoltar) alSoltar();
        }
        return;
    }
    // The desktop's equivalent of being allowed to watch the keyboard: an X11 session whose
    // server hands out raw key events. Nothing grants it later, so there is nothing to wait for.
    const bool permitido = monitor_.encender() && !TeclasGlobales::sesionWayland();
    Registro::escribir(QStringLiteral("[atajo] control + Super: escuchando · permiso de Accesibilidad: ") +
                       (permitido ? QStringLiteral("true") : QStringLiteral("false")));
}

void TeclasModificadoras::modificadores(quint32 mascara) {
    mascara &= Teclado::modificadores;
    if (mascara == (Teclado::control | Teclado::command)) {
        if (sostenido_ || pendiente_.activo()) return;
        // The flags are not looked at again when it fires: any change before then cancels it.
        pendiente_ = reloj_.programar(espera, this, [this] {
            sostenido_ = true;
            if (alPulsar) alPulsar();
        });
        return;
    }
    pendiente_.cancelar();
    if (sostenido_) {
        sostenido_ = false;
        if (alSoltar) alSoltar();
    }
}

void TeclasModificadoras::teclaPulsada() {
    pendiente_.cancelar();
    if (sostenido_) {
        sostenido_ = false;
        if (alCancelar) alCancelar();
    }
}
