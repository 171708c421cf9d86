#include "zentu/conexion/ModeloEnlace.h"

#include "plataforma/AccesoCamara.h"
#include "plataforma/DetectorQR.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"
#include "zentu/conexion/Enlazar.h"

#include <QCamera>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QMimeData>
#include <QMutex>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <limits>
#include <utility>

// Lives on the camera thread: throttles the frames and reads each analysed one for a QR code.
// Only a found text goes back to the model, on the main thread.
class ModeloEnlace::Analista : public QObject {
public:
    Analista(Reloj& reloj, ModeloEnlace* modelo) : reloj_(reloj), modelo_(modelo) {}

    // Called on whatever thread delivers the frame. Only the newest frame waits for the camera
    // thread: a backlog of frames would hold on to the camera's few buffers and stall it.
    void recibir(const QVideoFrame& cuadro) {
        QMutexLocker guardia(&cerrojo_);
        pendiente_ = cuadro;
        if (programado_) return;
        programado_ = true;
        QMetaObject::invokeMethod(this, [this] { tomar(); }, Qt::QueuedConnection);
    }

    // A pasted or dropped picture, read on this thread as frames are (a large screenshot takes a
    // tenth of a second); the result, found or not, goes back to the model.
    void leerImagen(const QImage& imagen) {
        const std::optional<QString> texto = detector_.leer(imagen);
        QMetaObject::invokeMethod(
            modelo_, [m = modelo_, texto] { m->textoDeImagen(texto); }, Qt::QueuedConnection);
    }

private:
    void tomar() {
        QVideoFrame cuadro;
        {
            QMutexLocker guardia(&cerrojo_);
            cuadro = std::exchange(pendiente_, QVideoFrame());
            programado_ = false;
        }
        analizar(cuadro);
    }

    void analizar(const QVideoFrame& cuadro) {
        // At most four analyses a second; the rest are dropped before any conversion.
        const double ahora = reloj_.segundos();
        if (!(ahora - ultimoAnalisis_ > 0.25)) return;
        if (!cuadro.isValid()) return;
        ultimoAnalisis_ = ahora;
        const auto texto = detector_.leer(cuadro);
        if (!texto) return;
        QMetaObject::invokeMethod(
            modelo_, [m = modelo_, t = *texto] { m->textoDeCamara(t); }, Qt::QueuedConnection);
    }

    Reloj& reloj_;
    ModeloEnlace* modelo_;  // only used as the target of queued calls, which die with it
    DetectorQR detector_;
    double ultimoAnalisis_ = -std::numeric_limits<double>::infinity();
    QMutex cerrojo_;
    QVideoFrame pendiente_;
    bool programado_ = false;
};

const QString ModeloEnlace::kSinPermiso =
    QStringLiteral("Sin permiso de cámara. Pega una captura del código con Ctrl+V.");

ModeloEnlace::ModeloEnlace() : ModeloEnlace(Reloj::sistema()) {}

ModeloEnlace::ModeloEnlace(Reloj& reloj, QObject* padre)
    : QObject(padre), reloj_(reloj), sesion_(new QMediaCaptureSession(this)), sumidero_(new QVideoSink(this)) {
    sesion_->setVideoSink(sumidero_);
    colaCamara_.setObjectName(QStringLiteral("zentu.camara"));
    analista_ = new Analista(reloj_, this);
    analista_->moveToThread(&colaCamara_);
    connect(&colaCamara_, &QThread::finished, analista_, &QObject::deleteLater);
    connect(sumidero_, &QVideoSink::videoFrameChanged, analista_,
            [a = analista_](const QVideoFrame& cuadro) { a->recibir(cuadro); }, Qt::DirectConnection);
    colaCamara_.start();
}

ModeloEnlace::~ModeloEnlace() {
    if (camara_) camara_->stop();
    sesion_->setVideoSink(nullptr);
    disconnect(sumidero_, nullptr, analista_, nullptr);
    colaCamara_.quit();
    colaCamara_.wait();
}

void ModeloEnlace::encenderCamara() {
    if (!camara_) {
        // No grant to ask for: video devices this user may not open are the refusal.
        if (AccesoCamara::estado() == AccesoCamara::Estado::denegado) {
            ponerMensaje(kSinPermiso);
            return;
        }
        configurarCamara();
    } else if (!camara_->isActive()) {
        // The model outlives its window: a later showing starts the same camera again.
        camara_->start();
    }
}

void ModeloEnlace::configurarCamara() {
    const QCameraDevice dispositivo = QMediaDevices::defaultVideoInput();
    if (dispositivo.isNull()) return;  // no camera: paste and drop still work
    camara_ = new QCamera(dispositivo, this);
    connect(camara_, &QCamera::activeChanged, this, [this](bool activa) {
        if (activa && !camaraLista_) {
            camaraLista_ = true;
            Q_EMIT camaraListaCambio();
        }
    });
    sesion_->setCamera(camara_);
    camara_->start();
}

void ModeloEnlace::apagarCamara() {
    if (camara_ && camara_->isActive()) camara_->stop();
}

QImage ModeloEnlace::imagenDe(const QMimeData& datos) {
    if (datos.hasImage()) {
        const QImage imagen = qvariant_cast<QImage>(datos.imageData());
        if (!imagen.isNull()) return imagen;
    }
    const QList<QUrl> urls = datos.urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return {};
    // Only regular files: reading a pipe or a device would hang the window.
    const QFileInfo archivo(urls.first().toLocalFile());
    if (!archivo.isFile()) return {};
    return QImage(archivo.filePath());
}

void ModeloEnlace::pegar() {
    const QMimeData* datos = QGuiApplication::clipboard()->mimeData();
    if (!datos) return;
    const QImage imagen = imagenDe(*datos);
    if (!imagen.isNull()) {
        leerImagen(imagen);
    } else if (datos->hasText()) {
        canjear(datos->text());
    }
}

void ModeloEnlace::leerImagen(const QImage& imagen) {
    if (imagen.isNull()) return;
    QMetaObject::invokeMethod(
        analista_, [a = analista_, imagen] { a->leerImagen(imagen); }, Qt::QueuedConnection);
}

void ModeloEnlace::textoDeImagen(const std::optional<QString>& texto) {
    if (texto) {
        canjear(*texto);
    } else {
        ponerMensaje(QStringLiteral("No encontré un código QR en esa imagen."));
    }
}

void ModeloEnlace::textoDeCamara(const QString& texto) {
    if (!ultimoFallido_.isNull() && texto == ultimoFallido_ &&
        reloj_.segundos() - momentoFallo_ < kPausaTrasFallo) {
        return;
    }
    canjear(texto);
}

void ModeloEnlace::canjear(const QString& texto) {
    if (canjeando_ || enVuelo_) return;
    API::CodigoEnlace codigo;
    try {
        codigo = API::leerCodigo(texto);
    } catch (const FalloZentu& e) {
        ponerMensaje(e.descripcion());
        return;  // scanning goes on
    }
    canjeando_ = true;
    ponerOcupado(true);
    ponerMensaje(std::nullopt);
    enVuelo_ = true;
    esperarCanje(texto, codigo.url, codigo.codigo);
}

QCoro::Task<void> ModeloEnlace::esperarCanje(QString texto, QString url, QString codigo) {
    QPointer<ModeloEnlace> vivo(this);
    std::optional<Cuenta> cuenta;
    QString fallo;
    try {
        cuenta = co_await API::canjear(url, codigo);
    } catch (const FalloZentu& e) {
        fallo = e.descripcion();
    } catch (const std::exception& e) {
        fallo = QString::fromUtf8(e.what());
    }
    if (!vivo) co_return;
    enVuelo_ = false;
    if (cuenta) {
        Registro::escribir(QStringLiteral("[enlace] enlazada con ") + cuenta->url);
        apagarCamara();
        if (alEnlazar) alEnlazar(*cuenta);
        if (!vivo) co_return;
        ponerOcupado(false);  // canjeando stays set: nothing more is redeemed until reiniciar()
    } else {
        Registro::escribir(QStringLiteral("[enlace] falló el canje: ") + fallo);
        ultimoFallido_ = texto;
        momentoFallo_ = reloj_.segundos();
        ponerMensaje(fallo);
        canjeando_ = false;
        ponerOcupado(false);
    }
}

void ModeloEnlace::reiniciar() {
    canjeando_ = false;
    ponerOcupado(false);
    ponerMensaje(std::nullopt);
    ultimoFallido_.clear();
}

void ModeloEnlace::ponerMensaje(std::optional<QString> m) {
    if (m == mensaje_) return;
    mensaje_ = std::move(m);
    Q_EMIT mensajeCambio();
}

void ModeloEnlace::ponerOcupado(bool o) {
    if (o == ocupado_) return;
    ocupado_ = o;
    Q_EMIT ocupadoCambio();
}
