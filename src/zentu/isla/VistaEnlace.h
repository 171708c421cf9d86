#pragma once

#include <QPointer>
#include <QVideoFrame>
#include <QWidget>

class ModeloEnlace;
class QLabel;
class QPushButton;
class QTimer;

// The live camera picture, drawn like a mirror and filling its rectangle (cropping what does
// not fit), clipped to rounded corners. It shows the frames of the model's capture session.
class VistaCamara : public QWidget {
    Q_OBJECT
public:
    explicit VistaCamara(ModeloEnlace& modelo, QWidget* padre = nullptr);

protected:
    void paintEvent(QPaintEvent* evento) override;

private:
    QVideoFrame cuadro_;
};

// The pairing window's content: heading, the camera box (which takes dropped screenshots), the
// paste area with its Ctrl+V button, and the message line. The hosting window is the shell's;
// it calls ModeloEnlace::reiniciar() before each showing. The view starts the camera when it
// comes on screen and stops it when it leaves.
class VistaEnlace : public QWidget {
    Q_OBJECT
public:
    explicit VistaEnlace(ModeloEnlace& modelo, QWidget* padre = nullptr);

    // The texts that name keys, as this desktop's keyboards label them.
    static const QString kTextoPegar;    // the paste area's hint
    static const QString kTituloBoton;   // the paste button

protected:
    void showEvent(QShowEvent* evento) override;
    void hideEvent(QHideEvent* evento) override;
    void changeEvent(QEvent* evento) override;

private:
    class Caja;
    void actualizar();
    void colorearSecundarios();

    QPointer<ModeloEnlace> modelo_;
    Caja* caja_ = nullptr;
    QPushButton* boton_ = nullptr;
    QLabel* mensaje_ = nullptr;
    QList<QLabel*> secundarios_;  // drawn in the secondary text colour of the current palette
};
