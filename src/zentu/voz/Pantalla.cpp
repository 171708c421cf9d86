#include "zentu/voz/Pantalla.h"

#include "plataforma/CapturaPantalla.h"
#include "plataforma/CarpetaPrivada.h"
#include "plataforma/Privacidad.h"
#include "plataforma/Registro.h"
#include "zentu/isla/Permisos.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>
#include <QCoroSignal>
#include <QCoroThread>
#include <algorithm>
#include <cmath>
#include <memory>

QString Pantalla::descripcion(Fallo fallo) {
    switch (fallo) {
    case Fallo::sinPermiso: return QStringLiteral("Falta el permiso de grabación de pantalla.");
    case Fallo::nada: return QStringLiteral("No encontré qué capturar en la pantalla.");
    case Fallo::sinCaptura: return QStringLiteral("No se pudo capturar la pantalla: este escritorio no ofrece capturas.");
    }
    return {};
}

QString Pantalla::nombreArchivo(const QDateTime& local) {
    return QStringLiteral("Pantalla ") + local.toString(QStringLiteral("yyyy-MM-dd 'a las' HH.mm.ss")) +
           QStringLiteral(".jpg");
}

QSize Pantalla::tamCaptura(QSize puntos) {
    const int lado = std::max(puntos.width(), puntos.height());
    if (lado <= 0) return {};
    const double s = std::min(1600.0 / lado, 2.0);
    return QSize(int(puntos.width() * s), int(puntos.height() * s));
}

std::optional<Pantalla::Eleccion> Pantalla::elegir(CapturaPantalla& x, int64_t miPid, const std::vector<QRect>& pantallas,
                                                   bool soloPantalla) {
    const auto frente = soloPantalla ? std::nullopt : x.pidDelFrente();
    if (frente && *frente != miPid) {
        if (const auto lista = x.ventanas()) {
            for (const auto& v : *lista) {
                if (v.pid != *frente) continue;
                if (v.marco.width() > 120 && v.marco.height() > 80) return Eleccion{v.id, v.marco};
            }
        }
    }
    if (pantallas.empty()) return std::nullopt;
    const QPoint p = x.puntero();
    for (const QRect& r : pantallas)
        if (r.contains(p)) return Eleccion{std::nullopt, r};
    return Eleccion{std::nullopt, pantallas.front()};
}

QString Pantalla::guardar(const QImage& imagen, QSize puntos, bool ventana, const QString& carpeta,
                          const QDateTime& local) {
    const QSize tam = tamCaptura(puntos);
    if (imagen.isNull() || tam.isEmpty()) throw Error(Fallo::nada);
    const QImage escalada = imagen.scaled(tam, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter escritor(&buffer, "jpeg");
    escritor.setQuality(72);
    if (!escritor.write(escalada)) throw Error(Fallo::nada);
    const QString ruta = carpeta + QLatin1Char('/') + nombreArchivo(local);
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) || archivo.write(jpeg) != jpeg.size() ||
        !archivo.flush())
        throw Error(QStringLiteral("No se pudo guardar la captura: %1").arg(archivo.errorString()));
    archivo.close();
    Registro::escribir(QStringLiteral("[pantalla] captura %1×%2 · %3 KB · %4")
                           .arg(tam.width())
                           .arg(tam.height())
                           .arg(jpeg.size() / 1024)
                           .arg(ventana ? QStringLiteral("ventana activa") : QStringLiteral("pantalla entera")));
    return ruta;
}

QString Pantalla::capturarCon(CapturaPantalla& x, int64_t miPid, const std::vector<QRect>& pantallas,
                              const QString& carpeta, const QDateTime& local) {
    if (const auto fallo = x.fallo()) throw Error(*fallo);
    const auto eleccion = elegir(x, miPid, pantallas);
    if (!eleccion) throw Error(Fallo::nada);
    if (eleccion->ventana) {
        const QImage imagen = x.ventana(*eleccion->ventana);
        if (!imagen.isNull()) return guardar(imagen, eleccion->zona.size(), true, carpeta, local);
        // A window the server will not read whole (partly off the screen): the screen instead.
    }
    const auto pantalla = elegir(x, miPid, pantallas, true);
    if (!pantalla) throw Error(Fallo::nada);
    const QImage imagen = x.zona(pantalla->zona, miPid);
    if (imagen.isNull()) throw Error(QStringLiteral("No se pudo leer la imagen de la pantalla."));
    return guardar(imagen, pantalla->zona.size(), false, carpeta, local);
}

namespace {

// Work on a thread of its own; the caller awaits the thread's end, then reads the outcome.
// (A plain function: GCC 12 mishandles closures passed into a coroutine's frame.)
struct Hilo {
    std::unique_ptr<QThread> hilo;
    std::shared_ptr<std::optional<QString>> resultado = std::make_shared<std::optional<QString>>();
    std::shared_ptr<std::exception_ptr> error = std::make_shared<std::exception_ptr>();

    QString valor() const {
        if (*error) std::rethrow_exception(*error);
        return resultado->value_or(QString());
    }
};

Hilo lanzar(std::function<QString()> trabajo) {
    Hilo h;
    h.hilo.reset(QThread::create([trabajo = std::move(trabajo), r = h.resultado, e = h.error] {
        try {
            r->emplace(trabajo());
        } catch (...) {
            *e = std::current_exception();
        }
    }));
    h.hilo->start();
    return h;
}

}  // namespace

QCoro::Task<QString> Pantalla::capturar() {
    if (!co_await Permiso::probarPantalla())
        throw Error(Permiso::pantallaOfrecida() ? Fallo::sinPermiso : Fallo::sinCaptura);
    QString motivo;
    const auto carpeta = CarpetaPrivada::ruta(&motivo);
    if (!carpeta) throw Error(QStringLiteral("No se pudo guardar la captura: %1").arg(motivo));
    const QDateTime local = QDateTime::currentDateTime();

    if (Privacidad::actual().sesion() == Privacidad::Sesion::wayland) {
        const auto r = co_await CapturaPantalla::portal();
        if (r.negado) throw Error(Fallo::sinPermiso);
        if (r.sinPortal) {
            Permiso::ponerPantallaOfrecida(false);
            throw Error(Fallo::sinCaptura);
        }
        if (!r.error.isEmpty()) throw Error(QStringLiteral("No se pudo capturar la pantalla: ") + r.error);
        const QImage imagen = r.imagen;
        const QString destino = *carpeta;
        // The portal gives device pixels of the whole screen; its size in points is the screen's.
        QSize puntos = imagen.size();
        if (QScreen* s = QGuiApplication::primaryScreen(); s && s->devicePixelRatio() > 0)
            puntos = (QSizeF(imagen.size()) / s->devicePixelRatio()).toSize();
        Hilo h = lanzar([imagen, puntos, destino, local] { return guardar(imagen, puntos, false, destino, local); });
        co_await qCoro(h.hilo.get()).waitForFinished();
        co_return h.valor();
    }

    // Screens are Qt's to list; everything else talks to the X server from the worker.
    std::vector<QRect> pantallas;
    if (QScreen* principal = QGuiApplication::primaryScreen()) pantallas.push_back(principal->geometry());
    for (QScreen* s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen()) pantallas.push_back(s->geometry());
    // The primary first keeps the fallback; the order of the rest decides which one contains
    // the pointer first, as listed.
    const int64_t miPid = QCoreApplication::applicationPid();
    const QString destino = *carpeta;
    Hilo h = lanzar([pantallas, miPid, destino, local] {
        const auto x = CapturaPantalla::x11();
        return capturarCon(*x, miPid, pantallas, destino, local);
    });
    co_await qCoro(h.hilo.get()).waitForFinished();
    co_return h.valor();
}

bool Pantalla::loPide(const QString& texto) {
    // Lower case, then accents folded away: NFD and the combining marks dropped.
    const QString descompuesto = texto.toLower().normalized(QString::NormalizationForm_D);
    QString plano;
    plano.reserve(descompuesto.size());
    for (const QChar c : descompuesto)
        if (c.category() != QChar::Mark_NonSpacing) plano.append(c);
    static const std::vector<QRegularExpression> patrones = [] {
        const char* const fuentes[] = {
            R"(\b(mira|miras|mirar|mirame|ve|ves|ver|verme|vea|revisa|revisar|fijate|lee|leer|chequea|analiza)\b.{0,40}\bpantalla\b)",
            R"(\bpantalla\b.{0,30}\b(ves|mira|ver|tengo|esta|aparece|sale)\b)",
            R"(\bque (ves|tengo) (aqui|aca|abierto|en frente|delante)\b)",
            R"(\b(mira|ve|fijate en|revisa) (esto|esta ventana|lo que tengo abierto|lo que estoy viendo)\b)",
        };
        std::vector<QRegularExpression> r;
        for (const char* f : fuentes)
            r.emplace_back(QString::fromUtf8(f), QRegularExpression::UseUnicodePropertiesOption);
        return r;
    }();
    // No line terminator joins words across lines.
    static const QRegularExpression saltos(QStringLiteral("[\\r\\x{2028}\\x{2029}\\x{85}]"));
    plano.replace(saltos, QStringLiteral("\n"));
    return std::any_of(patrones.begin(), patrones.end(),
                       [&](const QRegularExpression& p) { return p.match(plano).hasMatch(); });
}
