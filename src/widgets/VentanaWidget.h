#pragma once

#include "compartido/Instantanea.h"
#include "compartido/VistasWidgets.h"
#include "plataforma/Reloj.h"

#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

// One widget on the desktop: a frameless window below the other windows, on every workspace and
// out of the taskbar, drawn by the shared views from its timeline. It follows its timeline (the
// agents widget steps through its agents), asks for a new one when the timeline says, and at once
// when told to reload. A click opens the link under the pointer; a drag moves the window.
class VentanaWidget : public QWidget {
    Q_OBJECT
public:
    VentanaWidget(QString tipo, FamiliaW familia, Reloj& reloj = Reloj::sistema(), QWidget* padre = nullptr);

    const QString& tipo() const { return tipo_; }
    FamiliaW familia() const { return familia_; }
    void cambiarFamilia(FamiliaW familia);
    void ponerOscuro(bool oscuro);

    // Asks the provider for a new timeline now (the app's reload request, a new size).
    void recargar();

    // Opens a link; by default the desktop's URL opener.
    std::function<void(const QUrl&)> alAbrir;

    // What is shown now, for tests and pictures.
    const Instantanea& foto() const;
    qint64 indice() const;
    QDateTime proximaRecarga() const { return proximaRecarga_; }
    int recargas() const { return recargas_; }
    const ZonasEnlace& zonas() const { return zonas_; }

    static constexpr double kRadio = 20;

signals:
    // The owner finished dragging the window to a new place.
    void movido();

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    struct Paso {
        QDateTime date;
        Instantanea foto;
        qint64 indice = 0;
    };
    void seguir();  // shows the entry due now and waits for the next one
    void darForma();

    QString tipo_;
    FamiliaW familia_;
    Reloj& reloj_;
    bool oscuro_ = false;
    std::vector<Paso> pasos_;
    size_t actual_ = 0;
    QDateTime proximaRecarga_;
    int recargas_ = 0;
    Temporizador siguientePaso_;
    Temporizador siguienteRecarga_;
    ZonasEnlace zonas_;
    QPoint agarre_;
    QPoint inicioPulsacion_;
    bool pulsado_ = false;
    bool arrastrando_ = false;
};
