#include "plataforma/InicioSesion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace InicioSesion {

namespace {

QString carpetaConfiguracion() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

// One argument of an Exec line: always quoted; inside quotes `"`, `` ` ``, `$` and `\` take a
// backslash, and a literal `%` is doubled (field codes start with it). The file format then
// doubles every backslash once more.
QString argumentoExec(const QString& arg) {
    QString dentro;
    for (const QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') dentro += u'\\';
        if (c == u'%') dentro += u'%';
        dentro += c;
    }
    QString citado = u'"' + dentro + u'"';
    citado.replace(u'\\', QStringLiteral("\\\\"));
    return citado;
}

bool verdadero(const QString& valor) { return valor.trimmed() == QStringLiteral("true"); }

}  // namespace

QString rutaEntrada() { return carpetaConfiguracion() + QStringLiteral("/autostart/ai.zentu.voz.desktop"); }

Estado estado() {
    QFile f(rutaEntrada());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return Estado::noRegistrado;
    QTextStream entrada(&f);
    bool enGrupo = false, esEntrada = false, oculta = false, desactivada = false;
    while (!entrada.atEnd()) {
        const QString linea = entrada.readLine().trimmed();
        if (linea.isEmpty() || linea.startsWith(u'#')) continue;
        if (linea.startsWith(u'[')) {
            enGrupo = linea == QStringLiteral("[Desktop Entry]");
            esEntrada = esEntrada || enGrupo;
            continue;
        }
        if (!enGrupo) continue;
        const int igual = linea.indexOf(u'=');
        if (igual < 0) continue;
        const QString clave = linea.left(igual).trimmed();
        const QString valor = linea.mid(igual + 1);
        if (clave == QStringLiteral("Hidden")) oculta = verdadero(valor);
        if (clave == QStringLiteral("X-GNOME-Autostart-enabled")) desactivada = !verdadero(valor);
    }
    return esEntrada && !oculta && !desactivada ? Estado::activado : Estado::noRegistrado;
}

std::optional<QString> registrar(const QString& ejecutable) {
    const QString programa = ejecutable.isEmpty() ? QCoreApplication::applicationFilePath() : ejecutable;
    if (programa.isEmpty()) return QStringLiteral("No se sabe qué programa abrir al iniciar sesión.");
    const QString ruta = rutaEntrada();
    if (!QDir().mkpath(QFileInfo(ruta).absolutePath()))
        return QStringLiteral("No se pudo crear la carpeta ") + QFileInfo(ruta).absolutePath() + u'.';
    QSaveFile f(ruta);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return QStringLiteral("No se pudo escribir ") + ruta + QStringLiteral(": ") + f.errorString();
    QString texto;
    texto += QStringLiteral("[Desktop Entry]\n");
    texto += QStringLiteral("Type=Application\n");
    texto += QStringLiteral("Name=Zentu AI\n");
    texto += QStringLiteral("Exec=") + argumentoExec(programa) + u'\n';
    texto += QStringLiteral("Terminal=false\n");
    texto += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    f.write(texto.toUtf8());
    if (!f.commit()) return QStringLiteral("No se pudo escribir ") + ruta + QStringLiteral(": ") + f.errorString();
    return std::nullopt;
}

std::optional<QString> quitar() {
    const QString ruta = rutaEntrada();
    QFile f(ruta);
    if (!f.exists()) return std::nullopt;
    if (!f.remove()) return QStringLiteral("No se pudo borrar ") + ruta + QStringLiteral(": ") + f.errorString();
    return std::nullopt;
}

}  // namespace InicioSesion
