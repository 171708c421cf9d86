#include "widgets/Proveedores.h"

#include <QFile>
#include <algorithm>
#include <optional>

Instantanea leerFoto() {
    static std::optional<Instantanea> ultima;  // main thread only
    const auto ruta = Instantanea::archivo();
    if (!ruta || !QFile::exists(*ruta)) {
        ultima.reset();
        return Instantanea::vacia();
    }
    QFile f(*ruta);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = f.readAll();
        if (f.error() == QFileDevice::NoError) {
            if (auto leida = Instantanea::decodificar(bytes)) {
                ultima = *leida;
                return std::move(*leida);
            }
        }
    }
    return ultima ? *ultima : Instantanea::vacia();
}

namespace Proveedor {

Entrada placeholder(const QDateTime& ahora) { return {ahora, Instantanea::ejemplo()}; }

Entrada snapshot(const QDateTime& ahora, bool preview, const Fuentes& fuentes) {
    Instantanea foto = fuentes.leer();
    if (preview && !foto.enlazada) foto = Instantanea::ejemplo();
    return {ahora, std::move(foto)};
}

LineaTiempo<Entrada> timeline(const QString& familia, QSizeF tamano, const QDateTime& ahora, const Fuentes& fuentes) {
    // The size goes to the file before anything is shown: the app reads it for its own use.
    fuentes.anotar(familia, tamano);
    // Never the demo here: an unpaired computer gets the not-linked content.
    LineaTiempo<Entrada> linea;
    linea.entradas.push_back({ahora, fuentes.leer()});
    linea.recarga = {Recarga::despues, ahora.addSecs(kRecargaSegundos)};
    return linea;
}

}  // namespace Proveedor

namespace ProveedorAgentes {

EntradaAgentes placeholder(const QDateTime& ahora) { return {ahora, Instantanea::ejemplo(), 0}; }

EntradaAgentes snapshot(const QDateTime& ahora, const Fuentes& fuentes) {
    Instantanea foto = fuentes.leer();
    if (!foto.enlazada || !foto.agentes || foto.agentes->empty()) foto = Instantanea::ejemplo();
    return {ahora, std::move(foto), 0};
}

LineaTiempo<EntradaAgentes> timeline(const QDateTime& ahora, const Fuentes& fuentes) {
    const Instantanea foto = fuentes.leer();
    const int n = foto.agentes ? std::max<int>(1, int(foto.agentes->size())) : 1;
    LineaTiempo<EntradaAgentes> linea;
    linea.entradas.reserve(size_t(n));
    for (int i = 0; i < n; ++i) linea.entradas.push_back({ahora.addSecs(qint64(i) * kPasoSegundos), foto, i});
    linea.recarga = {Recarga::alFinal, linea.entradas.back().date};
    return linea;
}

}  // namespace ProveedorAgentes

QDateTime proximaRecarga(const Recarga& recarga, const QDateTime& ultimaEntrada, const QDateTime& ahora) {
    const QDateTime pedida = recarga.tipo == Recarga::alFinal ? ultimaEntrada : recarga.cuando;
    const QDateTime minima = ahora.addSecs(kRecargaMinimaSegundos);
    return pedida.isValid() && pedida > minima ? pedida : minima;
}
