// Entry of every test binary: a QApplication (offscreen or on Xvfb, as ctest sets
// QT_QPA_PLATFORM), with the user's folders pointed at a private temporary home so that no
// test reads or writes the real configuration, data or caches.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir casa(QDir::tempPath() + QStringLiteral("/zentu-prueba-XXXXXX"));
    if (!casa.isValid()) return 2;
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString ruta = casa.path() + QLatin1Char('/') + QString::fromLatin1(variable).toLower();
        QDir().mkpath(ruta);
        qputenv(variable, ruta.toUtf8());
    }
    qputenv("ZENTU_CASA_PRUEBA", casa.path().toUtf8());
    QApplication aplicacion(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int resultado = RUN_ALL_TESTS();
    // What the last tests left posted still runs: callers that objects resumed as they were
    // destroyed finish and free their frames, and objects handed to deleteLater go.
    for (int vuelta = 0; vuelta < 5; ++vuelta) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    return resultado;
}
