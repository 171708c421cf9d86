// Opening the chat card on a 2,000-message history and scrolling it end to end: the time to the
// first painted picture, and the cost of one scrolled frame (scroll by 40 points, then repaint the
// list), against the 16.7 ms of a 60 fps frame. Run by hand: build/bench/medir_vista_chat
#include "Referencia.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/chat/VistaChat.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QList<ChatZentu::Mensaje> historia(int n) {
    const QStringList textos = {
        "Hola, ¿cómo van las ventas de hoy?",
        "Hoy van **1.240 €** en 31 pedidos. El ticket medio es de `40 €` y la hora fuerte fue entre la una y las tres.",
        "Perfecto, gracias.",
        "Te dejo el resumen de la semana: los martes siguen flojos, pero el sábado batió el récord del mes. "
        "Si quieres preparo una promoción para el martes que viene y te la enseño antes de publicarla.",
        "Vale, hazlo.",
    };
    QList<ChatZentu::Mensaje> r;
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addDays(-30);
    for (int i = 0; i < n; ++i) {
        ChatZentu::Mensaje m;
        m.id = QString::number(i);
        m.deZentu = i % 2 == 1;
        m.texto = textos[i % textos.size()];
        m.fecha = t0.addSecs(i * 90);
        if (m.deZentu) m.autor = QStringLiteral("Agente Ventas");
        if (i % 25 == 7)
            m.adjunto = ChatZentu::Adjunto{QUrl("https://zentu.example/api/files/view/eA?token=t"),
                                           QStringLiteral("informe-%1.pdf").arg(i), false, false};
        r.append(m);
    }
    return r;
}

void procesar() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double ns = nsPorSeno(2'000'000);

    CanalEnVivo canal(Cuenta{"http://127.0.0.1:9", "t", "", ""});  // never connected
    ChatZentu chat(canal);
    chat.setMensajes(historia(2000));

    QImage lienzo(QSize(428, 680), QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer reloj;
    reloj.start();
    VistaChat vista(chat, [] {}, nullptr, Esquema::claro);
    vista.resize(428, 680);
    vista.show();
    procesar();
    lienzo.fill(Qt::transparent);
    vista.render(&lienzo);
    const double primera = reloj.nsecsElapsed() / 1e6;

    // One whole-card paint (glass, shadow, every row), for comparison.
    reloj.start();
    lienzo.fill(Qt::transparent);
    vista.render(&lienzo);
    const double tarjeta = reloj.nsecsElapsed() / 1e6;

    QImage marco(vista.lista()->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    QScrollBar* barra = vista.lista()->verticalScrollBar();
    barra->setValue(barra->maximum());
    procesar();
    std::vector<double> cuadros;
    // Up by 40 points a frame until the oldest message shows (older bubbles are built on the way).
    int recorrido = 0;
    while (barra->value() > 0) {
        reloj.start();
        barra->setValue(barra->value() - 40);
        recorrido += 40;
        procesar();
        // What a scroll repaints: the list's viewport (the card around it stays as it was).
        marco.fill(Qt::transparent);
        vista.lista()->viewport()->render(&marco);
        cuadros.push_back(reloj.nsecsElapsed() / 1e6);
    }
    std::sort(cuadros.begin(), cuadros.end());
    double suma = 0;
    for (double c : cuadros) suma += c;
    const double media = suma / double(cuadros.size());
    const double p50 = cuadros[cuadros.size() / 2];
    const double p95 = cuadros[size_t(double(cuadros.size() - 1) * 0.95)];

    std::printf("chat card, 2000 messages (%d bubbles), 428 x 680\n", int(vista.burbujas().size()));
    std::printf("first paint       %9.1f ms  (%.0f sines)\n", primera, primera * 1e6 / ns);
    std::printf("whole-card paint  %9.1f ms\n", tarjeta);
    std::printf("scrolled frames   %9d  over %d points (%d bubbles built by the end)\n", int(cuadros.size()), recorrido,
                vista.burbujasCreadas());
    std::printf("frame mean        %9.2f ms  (%.0f sines; %.0f %% of a 60 fps frame)\n", media, media * 1e6 / ns,
                media / 16.67 * 100);
    std::printf("frame p50 / p95 / max  %.2f / %.2f / %.2f ms\n", p50, p95, cuadros.back());
    return 0;
}
