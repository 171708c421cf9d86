#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QSize>
#include <QStringList>
#include <QTextItem>

namespace pruebas {

// A paint device that keeps the texts drawn on it, exactly as drawn (a text cut short shows its
// "…"); everything else is dropped. Its metrics are those of a picture at 96 dots per inch.
class TextosDibujados : public QPaintDevice {
public:
    explicit TextosDibujados(QSize tam) : tam_(tam), motor_(this) {}
    ~TextosDibujados() override = default;
    QPaintEngine* paintEngine() const override { return &motor_; }
    const QStringList& textos() const { return textos_; }

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmWidth: return tam_.width();
        case PdmHeight: return tam_.height();
        case PdmWidthMM: return tam_.width() * 254 / 960;
        case PdmHeightMM: return tam_.height() * 254 / 960;
        case PdmNumColors: return 0x7fffffff;
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return 96;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Motor : public QPaintEngine {
    public:
        explicit Motor(TextosDibujados* dueno) : QPaintEngine(QPaintEngine::AllFeatures), dueno_(dueno) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override { dueno_->textos_ << item.text(); }
        Type type() const override { return QPaintEngine::User; }

    private:
        TextosDibujados* dueno_;
    };

    QSize tam_;
    mutable Motor motor_;
    QStringList textos_;
};

}  // namespace pruebas
