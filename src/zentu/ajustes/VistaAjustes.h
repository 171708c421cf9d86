#pragma once

#include "compartido/Instantanea.h"
#include "plataforma/EsquemaColor.h"
#include "plataforma/Reloj.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/isla/EstadoVoz.h"

#include <QCoroTask>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class BarraAjustes;
class PanelAtajos;
class PanelCuenta;
class PanelEstado;
class PanelLaIsla;
class PanelLlamadas;
class QLabel;
class QVBoxLayout;

// The content of the settings window: the sidebar and, at the right, the chosen pane under its
// title. Holds the window's own state (the section, the widget snapshot the status pane shows,
// the notice line, the two small orbs) and runs its lifecycle: the 5 s refresh of the status
// pane while it can be seen, the reads on showing, and the orbs woken for a few seconds at a time.
class VistaAjustes : public QWidget {
    Q_OBJECT
public:
    static constexpr double segundosRefresco = 5;
    static constexpr double segundosAviso = 6;

    // How the content area is laid out for its size.
    struct Disposicion {
        bool grande = false;
        double altoPrevia = 112;
        double margenSuperior = 40;
        double tamTitulo = 26;
        double tamSubtitulo = 13;
        double espacioCabecera = 18;
        double ancho = 0;  // the column's width
        double x = 34;     // the column's left edge in the area
        bool operator==(const Disposicion&) const = default;
    };
    static Disposicion disposicion(double ancho, double alto);
    static QString subtitulo(SeccionAjustes seccion);  // empty when none
    // The key-cap texts of a combination, as the status and shortcuts panes show them.
    static QStringList teclas(const Combinacion& comb);
    // The window's background (a flat colour and two soft glows), `logico` in the view's units,
    // drawn at `dpr` device pixels per unit.
    static QImage fondo(QSize logico, qreal dpr, Esquema esquema);

    VistaAjustes(ModeloAjustes& modelo, SeccionAjustes seccion, Esquema esquema = EsquemaColor::sistema().actual(),
                 Reloj& reloj = Reloj::sistema(), QWidget* padre = nullptr);
    ~VistaAjustes() override;

    SeccionAjustes seccion() const { return seccion_; }
    void setSeccion(SeccionAjustes seccion);
    // Builds everything again for another colour scheme; the window's state stays.
    void setEsquema(Esquema esquema);
    Esquema esquema() const { return esquema_; }

    const Instantanea& foto() const { return foto_; }
    const std::optional<QString>& aviso() const { return aviso_; }
    int permisosVistos() const { return permisosVistos_; }
    // A notice for the status pane, cleared 6 s later unless replaced.
    void mostrarAviso(const QString& texto);
    // Reads the snapshot file again.
    void releerFoto();

    EstadoVoz& orbeBarra() { return orbeBarra_; }
    EstadoVoz& muestra() { return muestra_; }
    BarraAjustes* barra() const { return barra_; }
    PanelEstado* panelEstado() const { return estado_; }
    PanelAtajos* panelAtajos() const { return atajos_; }
    PanelLaIsla* panelIsla() const { return isla_; }
    PanelLlamadas* panelLlamadas() const { return llamadas_; }
    PanelCuenta* panelCuenta() const { return cuenta_; }
    QLabel* titulo() const { return titulo_; }
    QLabel* lineaSubtitulo() const { return subtitulo_; }
    const Disposicion& disposicionActual() const { return disp_; }

    void despertarOrbe(double segundos);
    void despertarMuestra(double segundos);

    // Where the snapshot comes from and how screen capture is probed (tests replace them).
    std::function<Instantanea()> leerFoto = [] { return Instantanea::leer(); };
    std::function<QCoro::Task<bool>()> probarPantalla;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void construir();
    void colocar();
    void mostrarSeccion();
    void programarRefresco();
    void refrescar();
    QCoro::Task<void> probarYContar();

    ModeloAjustes& m_;
    EstadoVoz& voz_;
    Reloj& reloj_;
    Esquema esquema_;
    SeccionAjustes seccion_;
    Instantanea foto_;
    std::optional<QString> aviso_;
    int permisosVistos_ = 0;
    EstadoVoz orbeBarra_;
    EstadoVoz muestra_;
    Temporizador dormirOrbe_;
    Temporizador dormirMuestra_;
    Temporizador refresco_;
    Temporizador borrarAviso_;
    Disposicion disp_;
    QImage fondo_;  // the background at the current size, scheme and resolution
    Esquema fondoEsquema_ = Esquema::claro;

    QWidget* raiz_ = nullptr;
    BarraAjustes* barra_ = nullptr;
    QWidget* divisor_ = nullptr;
    QWidget* area_ = nullptr;
    QWidget* columna_ = nullptr;
    QLabel* titulo_ = nullptr;
    QLabel* subtitulo_ = nullptr;
    QVBoxLayout* capas_ = nullptr;
    PanelEstado* estado_ = nullptr;
    PanelAtajos* atajos_ = nullptr;
    PanelLaIsla* isla_ = nullptr;
    PanelLlamadas* llamadas_ = nullptr;
    PanelCuenta* cuenta_ = nullptr;
};
