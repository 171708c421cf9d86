#pragma once

#include "plataforma/EsquemaColor.h"

#include <QString>
#include <QVariantAnimation>
#include <QWidget>

class EstadoVoz;
class ModeloAjustes;
class Pildora;
class QLabel;
class QSlider;
class QAbstractButton;
namespace Piezas { class FilaInterruptor; }

// The live preview of the island: the pill over the window's own voice state, on a gradient,
// scaled with the island's size.
class PreviaIsla : public QWidget {
    Q_OBJECT
public:
    PreviaIsla(EstadoVoz& muestra, EstadoVoz& voz, Esquema esquema, QWidget* padre = nullptr);

    // The pill's scale in a preview `alto` high for an island scale `escala`.
    static double escala(double alto, double escalaIsla);

    void setAlto(double alto);
    double escalaMostrada() const { return mostrada_; }
    // Where the pill's capsule is drawn: centred in the preview, at the scale shown.
    QRectF marcoCapsula() const;
    Pildora* pildora() const { return pildora_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPointF origenPildora() const;  // the pill's root frame's top-left corner in the preview

    EstadoVoz& muestra_;
    EstadoVoz& voz_;
    Esquema esquema_;
    Pildora* pildora_;
    double alto_ = 112;
    double mostrada_;
    QVariantAnimation resorte_;
    QTimer* cuadros_;
};

// The island pane: the preview, the size slider with its percentage, the three switches and
// the link that puts the island back at the top.
class PanelLaIsla : public QWidget {
    Q_OBJECT
public:
    static constexpr int pasos = 1300;  // slider steps over 0.9…2.2

    // "140 %": the scale as a whole percentage, half away from zero.
    static QString porcentaje(double escala);

    PanelLaIsla(ModeloAjustes& modelo, EstadoVoz& muestra, Esquema esquema, QWidget* padre = nullptr);

    void setAltoPrevia(double alto);
    PreviaIsla* previa() const { return previa_; }
    QSlider* deslizador() const { return deslizador_; }
    QLabel* etiquetaPorcentaje() const { return porcentaje_; }
    Piezas::FilaInterruptor* sonidos() const { return sonidos_; }
    Piezas::FilaInterruptor* resumen() const { return resumen_; }
    Piezas::FilaInterruptor* inicio() const { return inicio_; }
    QAbstractButton* volverArriba() const { return volver_; }

    void actualizar();

private:
    ModeloAjustes& modelo_;
    PreviaIsla* previa_;
    QSlider* deslizador_;
    QLabel* porcentaje_;
    Piezas::FilaInterruptor* sonidos_;
    Piezas::FilaInterruptor* resumen_;
    Piezas::FilaInterruptor* inicio_;
    QAbstractButton* volver_;
};
