#pragma once

// The programs as the owner has them: this build installed by the project's own install step
// (scripts/colocar.sh, the one the README's start command runs) into a prefix of the run's own,
// so that whatever is installed in /usr/local or ~/.local is neither measured nor touched. The
// installed program differs from the build's: it finds its modules in lib/zentu beside it.
// ZENTU_PROGRAMA names another `zentu` to measure instead (an older build, to compare).

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <optional>

class Instalacion {
public:
    // Installs; else what failed, for the person running the benchmark.
    std::optional<QString> instalar() {
        if (const QString otro = qEnvironmentVariable("ZENTU_PROGRAMA"); !otro.isEmpty()) {
            bin_ = QFileInfo(otro).absolutePath();
            zentu_ = QFileInfo(otro).absoluteFilePath();
            return QFileInfo(zentu_).isExecutable() ? std::nullopt
                                                    : std::optional<QString>(QStringLiteral("ZENTU_PROGRAMA no es un programa: ") + otro);
        }
        if (!dir_.isValid()) return QStringLiteral("sin carpeta temporal");
        const QString prefijo = dir_.filePath(QStringLiteral("prefijo"));
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("ZENTU_BUILD"), QStringLiteral(ZENTU_COMPILACION));
        e.insert(QStringLiteral("ZENTU_PREFIJO"), prefijo);
        // The install step registers the widget host at login and the link handler: in the
        // run's own folders, not the owner's.
        e.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("casa")));
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("casa/.config")));
        e.insert(QStringLiteral("XDG_DATA_HOME"), dir_.filePath(QStringLiteral("casa/.local/share")));
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"), {QStringLiteral(ZENTU_RAIZ "/scripts/colocar.sh")});
        if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return QStringLiteral("no se instaló el programa: ") + QString::fromLocal8Bit(p.readAll());
        bin_ = prefijo + QStringLiteral("/bin");
        zentu_ = bin_ + QStringLiteral("/zentu");
        if (!QFileInfo(zentu_).isExecutable()) return QStringLiteral("la instalación no dejó ") + zentu_;
        return std::nullopt;
    }

    // The installed tray program.
    const QString& zentu() const { return zentu_; }
    // Another installed program, by name.
    QString programa(const QString& nombre) const { return bin_ + QLatin1Char('/') + nombre; }

private:
    QTemporaryDir dir_;
    QString bin_, zentu_;
};
