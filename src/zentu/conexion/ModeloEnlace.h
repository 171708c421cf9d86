#pragma once

#include "zentu/conexion/Cuenta.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>

class QCamera;
class QMediaCaptureSession;
class QMimeData;
class QVideoSink;
class Reloj;

// The model behind the pairing window. It runs the camera, reads pairing codes from camera
// frames, the clipboard and dropped images, redeems one code at a time and hands the new
// account to the shell through `alEnlazar`. All its state lives on the main thread; camera
// frames are analysed on the worker thread "zentu.camara", which hands back only a found text.
class ModeloEnlace : public QObject {
    Q_OBJECT
public:
    explicit ModeloEnlace(Reloj& reloj, QObject* padre = nullptr);
    ModeloEnlace();
    ~ModeloEnlace() override;

    const std::optional<QString>& mensaje() const { return mensaje_; }  // status or error line
    bool ocupado() const { return ocupado_; }                           // a redemption is in flight
    bool camaraLista() const { return camaraLista_; }                   // the live preview can show

    // The capture session; its video sink carries every camera frame, to the preview and to the
    // analysis alike (a frame set on the sink by hand takes the same way).
    QMediaCaptureSession& sesion() const { return *sesion_; }
    QVideoSink& sumidero() const { return *sumidero_; }

    // Called once per successful redemption, on the main thread.
    std::function<void(const Cuenta&)> alEnlazar;

    void encenderCamara();   // each time the pairing view comes on screen
    void apagarCamara();     // each time it leaves the screen, and after success
    void pegar();            // a code from the clipboard: an image first, else text
    // Read on the camera's worker thread, so a large screenshot never stalls the window; the
    // code found (or the message that there is none) follows on the main thread.
    void leerImagen(const QImage& imagen);
    void canjear(const QString& texto);
    void reiniciar();        // the shell calls it each time it shows the pairing window

    // The picture carried by clipboard or drop data: image data, else the first local file
    // that is an image. A null image when there is none.
    static QImage imagenDe(const QMimeData& datos);

    // Shown when this user may not open the camera; paste and drop still work.
    static const QString kSinPermiso;

    // How long a code that failed from the camera is not tried again from the camera.
    static constexpr double kPausaTrasFallo = 5.0;

signals:
    void mensajeCambio();
    void ocupadoCambio();
    void camaraListaCambio();

private:
    class Analista;

    void configurarCamara();
    void textoDeCamara(const QString& texto);
    void textoDeImagen(const std::optional<QString>& texto);
    void iniciarCanje(const QString& texto);
    QCoro::Task<void> esperarCanje(QString texto, QString url, QString codigo);
    void ponerMensaje(std::optional<QString> m);
    void ponerOcupado(bool o);

    Reloj& reloj_;
    std::optional<QString> mensaje_;
    bool ocupado_ = false;
    bool camaraLista_ = false;
    QMediaCaptureSession* sesion_ = nullptr;   // child of this model
    QVideoSink* sumidero_ = nullptr;           // child of this model
    QCamera* camara_ = nullptr;                // created at the first encenderCamara with a camera
    QThread colaCamara_;
    Analista* analista_ = nullptr;             // lives on colaCamara_
    bool canjeando_ = false;
    bool enVuelo_ = false;                     // a redemption has not yet finished, even after reiniciar()

    // A code the service refused (or could not be asked about), and when: the camera sees the
    // same code many times a second, and asking again at once would only repeat the refusal.
    QString ultimoFallido_;
    double momentoFallo_ = 0;
};
