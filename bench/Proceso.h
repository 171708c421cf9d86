#pragma once

// What a running process holds and spends, read from /proc, for benchmarks that measure the
// program from outside (or themselves, by their own process id). A reading is -1 when the
// process is gone.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <unistd.h>

// The kilobytes of one "Name:   N kB" line of /proc/<pid>/status; `campo` is the name with its colon.
inline double kbDeEstado(qint64 pid, const char* campo) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith(campo)) return l.mid(qstrlen(campo)).trimmed().split(' ').value(0).toDouble();
    return -1;
}

// Resident memory, the pages of shared libraries included.
inline double rssMb(qint64 pid) {
    const double kb = kbDeEstado(pid, "VmRSS:");
    return kb < 0 ? -1 : kb / 1024.0;
}

// Memory the process owns (heap and private pages), without shared library text.
inline double anonimaMb(qint64 pid) {
    const double kb = kbDeEstado(pid, "RssAnon:");
    return kb < 0 ? -1 : kb / 1024.0;
}

// Memory of this process alone (not shared library pages that other programs share), from
// smaps_rollup: Private_Clean + Private_Dirty.
inline double privadaMb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    double kb = 0;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith("Private_Clean:") || l.startsWith("Private_Dirty:"))
            kb += l.mid(l.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble();
    return kb / 1024.0;
}

// Seconds on a processor so far, user and system, all threads.
inline double cpuSegundos(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray t = f.readAll();
    const QList<QByteArray> campos = t.mid(t.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return (campos.value(11).toDouble() + campos.value(12).toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Seconds on a processor so far, to the nanosecond: the sum over the process's live threads
// (a thread that ended is no longer counted, which over a stretch of idleness hardly matters).
// Falls back to the coarser cpuSegundos where the kernel keeps no schedstat.
inline double cpuSegundosFino(qint64 pid) {
    const QString base = QStringLiteral("/proc/%1/task/").arg(pid);
    const QStringList hilos = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (hilos.isEmpty()) return -1;
    double ns = 0;
    for (const QString& h : hilos) {
        QFile f(base + h + QStringLiteral("/schedstat"));
        if (!f.open(QIODevice::ReadOnly)) return cpuSegundos(pid);
        ns += f.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e9;
}

// The process and every process below it (children it started, and theirs).
inline QList<qint64> conDescendientes(qint64 pid) {
    QList<std::pair<qint64, qint64>> padres;  // (pid, parent)
    for (const QString& d : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 n = d.toLongLong(&ok);
        if (!ok) continue;
        QFile f(QStringLiteral("/proc/%1/stat").arg(n));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray t = f.readAll();
        padres.append({n, t.mid(t.lastIndexOf(')') + 2).split(' ').value(1).toLongLong()});
    }
    QList<qint64> todos{pid};
    for (qsizetype i = 0; i < todos.size(); ++i)
        for (const auto& [hijo, padre] : padres)
            if (padre == todos[i]) todos.append(hijo);
    return todos;
}

// Seconds on a processor of the process and its descendants alive now.
inline double cpuSegundosArbol(qint64 pid) {
    double s = 0;
    for (qint64 p : conDescendientes(pid)) s += std::max(0.0, cpuSegundosFino(p));
    return s;
}
