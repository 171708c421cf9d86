#pragma once

#include "compartido/VistasWidgets.h"
#include "plataforma/Reloj.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <optional>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class VentanaWidget;

// The widget host: the desktop has no widget host of its own, so this one shows the widgets the
// owner chose as desktop windows, remembers where they stand, offers the widgets from its own menu
// (the tray icon's and each widget's context menu), and redraws every widget as soon as the app
// writes a new snapshot.
class Anfitrion : public QObject {
    Q_OBJECT
public:
    // One placed widget of the remembered layout.
    struct Colocado {
        QString tipo;
        FamiliaW familia = FamiliaW::pequena;
        QPoint posicion;
        bool operator==(const Colocado&) const = default;
    };

    explicit Anfitrion(Reloj& reloj = Reloj::sistema(), QObject* padre = nullptr);
    ~Anfitrion() override;

    // Shows the remembered widgets (or, on the very first start, the pending widget), the tray
    // icon and starts watching the shared folder.
    void iniciar();

    VentanaWidget* anadir(const QString& tipo, FamiliaW familia, std::optional<QPoint> posicion = std::nullopt);
    void quitar(VentanaWidget* ventana);
    void cambiarFamilia(VentanaWidget* ventana, FamiliaW familia);
    // Every widget asks for a new timeline (a new snapshot file).
    void recargarTodo();

    const std::vector<QPointer<VentanaWidget>>& ventanas() const { return ventanas_; }
    std::vector<Colocado> disposicion() const;

    // `r` moved whole into `zona` (a screen's part left to windows); the left and top edges stay
    // inside when it is larger.
    static QRect enZona(const QRect& r, const QRect& zona);
    // `r` moved whole into the free part of the screen that shows most of it (the primary when
    // none does).
    static QRect enPantalla(const QRect& r);

    // The layout file (in the user's configuration folder) and its format.
    static QString archivoDisposicion();
    static QByteArray codificar(const std::vector<Colocado>& lista);
    // None when the bytes are not a layout; entries of unknown widgets or sizes are skipped.
    static std::optional<std::vector<Colocado>> decodificar(const QByteArray& bytes, QString* error = nullptr);

    // The menu of the tray icon and of each widget's context menu.
    QMenu* menu(VentanaWidget* sobre = nullptr);

    // The tray icon, once shown (none where the desktop has no tray).
    QSystemTrayIcon* bandeja() const { return bandeja_; }

    // The tray icon, `lado` pixels square: four bright tiles on a dark rounded square; the tiles
    // read on a dark panel, the square on a light one.
    static QImage dibujarIcono(int lado);

private:
    void guardar() const;
    void vigilar();
    void carpetaCambiada();
    QByteArray firmaFoto() const;
    QPoint sitioLibre(QSize tam) const;
    void ponerEsquema();
    // Panels line their items up in the order they come: the host's icon comes after the
    // program's own, so that both keep their places from one login to the next.
    void bandejaTrasElPrograma();
    void mostrarBandeja();

    Reloj& reloj_;
    std::vector<QPointer<VentanaWidget>> ventanas_;
    QFileSystemWatcher vigia_;
    QTimer pausa_;
    QByteArray firma_;
    QSystemTrayIcon* bandeja_ = nullptr;
    QMenu* menuBandeja_ = nullptr;
    QTimer esperaPrograma_;
    QTimer plazoPrograma_;
};
