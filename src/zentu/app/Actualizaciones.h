#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// "Buscar actualizaciones…": on this system updates come with the system's packages, so the
// item opens the desktop's software updater where one is installed and otherwise says so.
class Actualizaciones : public QObject {
    Q_OBJECT
public:
    struct Actualizador {
        QString programa;
        QStringList argumentos;
    };
    // In the order they are tried.
    static const QList<Actualizador>& conocidos();

    static QString textoSinActualizador();  // "Zentu AI se actualiza con los paquetes del sistema."

    // Replaceable for tests: where a program is on PATH (empty: not installed) and starting it
    // detached with an argument list (never through a shell).
    std::function<QString(const QString&)> buscarPrograma;
    std::function<bool(const QString&, const QStringList&)> lanzar;
    // Shown in the island when no updater could be opened.
    std::function<void(QString)> alAvisar;

    explicit Actualizaciones(QObject* padre = nullptr);
    void buscar();
};
