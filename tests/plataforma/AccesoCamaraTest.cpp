#include "plataforma/AccesoCamara.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void crear(const QString& ruta, QFile::Permissions permisos) {
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_TRUE(f.setPermissions(permisos));
}

// The state as an ordinary user sees it: root may open anything, so when the tests run as root
// the look is taken in a child process that has become "nobody".
AccesoCamara::Estado comoUsuario(const QString& carpeta) {
    if (geteuid() != 0) return AccesoCamara::estado(carpeta);
    const passwd* nadie = getpwnam("nobody");
    if (!nadie) return AccesoCamara::estado(carpeta);
    (void)AccesoCamara::estado(carpeta);  // the child then allocates as little as possible
    const pid_t hijo = fork();
    if (hijo == 0) {
        if (setgid(nadie->pw_gid) != 0 || setuid(nadie->pw_uid) != 0) _exit(100);
        _exit(static_cast<int>(AccesoCamara::estado(carpeta)));
    }
    int estado = 0;
    waitpid(hijo, &estado, 0);
    return static_cast<AccesoCamara::Estado>(WEXITSTATUS(estado));
}

}  // namespace

TEST(AccesoCamara, SegunLosPermisosDeLosDispositivos) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther));
    const QString d = dir.path();
    crear(d + "/video-no", QFile::ReadOther | QFile::WriteOther);  // not a device name
    crear(d + "/audio0", QFile::ReadOther | QFile::WriteOther);
    EXPECT_EQ(comoUsuario(d), AccesoCamara::Estado::sinCamara);

    crear(d + "/video0", QFile::ReadOwner | QFile::WriteOwner);
    crear(d + "/video1", QFile::ReadOther);  // readable is not enough: capture needs both
    EXPECT_EQ(comoUsuario(d), AccesoCamara::Estado::denegado);

    crear(d + "/video2", QFile::ReadOther | QFile::WriteOther);
    EXPECT_EQ(comoUsuario(d), AccesoCamara::Estado::permitido);

    EXPECT_EQ(AccesoCamara::estado(d + "/no-existe"), AccesoCamara::Estado::sinCamara);
}
