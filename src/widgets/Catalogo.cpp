#include "widgets/Catalogo.h"

#include "compartido/EnlaceZentu.h"
#include "compartido/VistaAgentesW.h"
#include "compartido/VistaDiaW.h"

namespace Catalogo {

const std::vector<DefinicionWidget>& widgets() {
    using F = FamiliaW;
    static const std::vector<DefinicionWidget> lista = {
        {QStringLiteral("pendientes"), QStringLiteral("Lo que espera por ti"),
         QStringLiteral("Las decisiones que tus agentes esperan."), {F::pequena, F::mediana, F::grande}, false},
        {QStringLiteral("hablar"), QStringLiteral("Hablar con Zentu"), QStringLiteral("Llámalo o abre el chat con un clic."),
         {F::pequena}, false},
        {QStringLiteral("creditos"), QStringLiteral("Créditos"), QStringLiteral("Los créditos que te quedan este mes."),
         {F::pequena}, false},
        {QStringLiteral("dia"), QStringLiteral("El día de tu negocio"),
         QStringLiteral("Las conversaciones de hoy y lo que tus agentes atendieron sin ti."), {F::mediana, F::grande}, false},
        {QStringLiteral("agentes"), QStringLiteral("Tus agentes"),
         QStringLiteral("Quién está trabajando, cuántas conversaciones lleva y quién está en pausa."),
         {F::pequena, F::mediana, F::grande}, true},
    };
    return lista;
}

const DefinicionWidget* buscar(const QString& tipo) {
    for (const auto& d : widgets())
        if (d.tipo == tipo) return &d;
    return nullptr;
}

bool ofrece(const QString& tipo, FamiliaW familia) {
    const DefinicionWidget* d = buscar(tipo);
    return d && std::find(d->familias.begin(), d->familias.end(), familia) != d->familias.end();
}

QSizeF tamano(FamiliaW familia) {
    switch (familia) {
    case FamiliaW::pequena: return {170, 170};
    case FamiliaW::mediana: return {364, 170};
    case FamiliaW::grande: return {364, 382};
    }
    return {170, 170};
}

std::optional<FamiliaW> familiaDeNombre(const QString& nombre) {
    for (FamiliaW f : {FamiliaW::pequena, FamiliaW::mediana, FamiliaW::grande})
        if (nombreFamilia(f) == nombre) return f;
    return std::nullopt;
}

QString nombreTamano(FamiliaW familia) {
    switch (familia) {
    case FamiliaW::pequena: return QStringLiteral("Pequeño");
    case FamiliaW::mediana: return QStringLiteral("Mediano");
    case FamiliaW::grande: return QStringLiteral("Grande");
    }
    return {};
}

QPointF brillo(const QString& tipo, FamiliaW familia) {
    if (tipo == QLatin1String("pendientes")) return {0, 0};
    if (tipo == QLatin1String("dia")) return {1, 1};
    if (tipo == QLatin1String("agentes")) return familia == FamiliaW::pequena ? QPointF(0.5, 0.5) : QPointF(0, 0);
    return {0.5, 0.5};
}

std::optional<QUrl> enlace(const QString& tipo) {
    if (tipo == QLatin1String("pendientes")) return EnlaceZentu::pendientes();
    if (tipo == QLatin1String("creditos")) return EnlaceZentu::creditos();
    if (tipo == QLatin1String("dia")) return EnlaceZentu::dia();
    if (tipo == QLatin1String("agentes")) return EnlaceZentu::agentes();
    return std::nullopt;
}

std::optional<QDateTime> actualizado(const QString& tipo, const Instantanea& foto) {
    if (tipo == QLatin1String("hablar") || !foto.enlazada) return std::nullopt;
    return foto.actualizado;
}

void pintar(QPainter& pintor, const QRectF& rect, const QString& tipo, FamiliaW familia, const Instantanea& foto,
            qint64 indice, bool oscuro, ZonasEnlace* zonas, const QDateTime& ahora) {
    MarcoW marco;
    marco.oscuro = oscuro;
    marco.brillo = brillo(tipo, familia);
    marco.actualizado = actualizado(tipo, foto);
    marco.contenido = [&](QPainter& p, const QRectF& r, const PaletaW& pal, ZonasEnlace* z) {
        if (tipo == QLatin1String("pendientes")) VistaPendientesW{foto, familia, pal, ahora}.pintar(p, r, z);
        else if (tipo == QLatin1String("hablar")) VistaHablarW{pal}.pintar(p, r, z);
        else if (tipo == QLatin1String("creditos")) VistaCreditosW{foto, pal}.pintar(p, r, z);
        else if (tipo == QLatin1String("dia")) VistaDiaW{foto, familia, pal}.pintar(p, r);
        else if (tipo == QLatin1String("agentes")) VistaAgentesW{foto, familia, pal, indice}.pintar(p, r);
    };
    marco.pintar(pintor, rect, zonas, ahora);
    // The whole widget's link comes last, so that the content's own links win where they lie.
    if (zonas && !CapturaW::activa)
        if (const auto url = enlace(tipo)) zonas->push_back({rect, *url});
}

std::optional<QUrl> enlaceEn(const ZonasEnlace& zonas, QPointF punto) {
    for (const auto& z : zonas)
        if (z.zona.contains(punto)) return z.url;
    return std::nullopt;
}

}  // namespace Catalogo
