// Qt's own texts in Spanish: the file chooser, the text fields' context menu, standard buttons.
#include "comun/Ayudas.h"
#include "plataforma/Traducciones.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

QStringList textos(const QList<QAction*>& acciones) {
    QStringList r;
    for (QAction* a : acciones)
        if (!a->isSeparator()) r << a->text().remove('&').section('\t', 0, 0);
    return r;
}

TEST(Traducciones, LosTextosDeQtEnEspanol) {
    QLineEdit campo;
    std::unique_ptr<QMenu> antes(campo.createStandardContextMenu());
    EXPECT_TRUE(textos(antes->actions()).contains("Copy"));  // English until the catalogue is in

    ASSERT_TRUE(Traducciones::instalarQt());
    EXPECT_TRUE(Traducciones::instalarQt());  // once is enough

    std::unique_ptr<QMenu> menu(campo.createStandardContextMenu());
    EXPECT_EQ(textos(menu->actions()), (QStringList{"Deshacer", "Rehacer", "Cortar", "Copiar", "Pegar", "Borrar",
                                                     "Seleccionar todo"}));
    // Keys in the program's one notation, Qt's own menus included.
    QStringList teclas;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) teclas << a->text().section('\t', 1);
    // (Redo is Ctrl+Y or Ctrl+Mayús+Z, as the desktop's style has it.)
    EXPECT_EQ(teclas.mid(0, 1) + teclas.mid(2), (QStringList{"Ctrl+Z", "Ctrl+X", "Ctrl+C", "Ctrl+V", "", "Ctrl+A"}));
    EXPECT_TRUE(teclas.value(1) == "Ctrl+Y" || teclas.value(1) == "Ctrl+Mayús+Z") << teclas.value(1).toStdString();
    struct Caso {
        QKeyCombination tecla;
        const char* texto;
    };
    for (const Caso& c : {Caso{Qt::CTRL | Qt::SHIFT | Qt::Key_Z, "Ctrl+Mayús+Z"}, Caso{Qt::ALT | Qt::Key_Space, "Alt+Espacio"},
                          Caso{Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_P, "Ctrl+Alt+Mayús+P"},
                          Caso{Qt::META | Qt::Key_N, "Super+N"}, Caso{Qt::CTRL | Qt::Key_Comma, "Ctrl+,"}})
        EXPECT_EQ(QKeySequence(c.tecla).toString(QKeySequence::NativeText), c.texto);
    menu->adjustSize();
    EXPECT_TRUE(menu->grab().save(pruebas::carpetaArtefactos("plataforma") + "/menu-campo-de-texto.png"));

    QFileDialog dialogo(nullptr, QStringLiteral("Adjuntar"));
    dialogo.setOption(QFileDialog::DontUseNativeDialog);
    dialogo.resize(640, 420);
    QStringList etiquetas;
    for (QLabel* l : dialogo.findChildren<QLabel*>()) etiquetas << l->text().remove('&');
    QStringList botones;
    for (QPushButton* b : dialogo.findChildren<QDialogButtonBox*>().value(0)->findChildren<QPushButton*>())
        botones << b->text().remove('&');
    for (const char* t : {"Nombre de fichero:", "Ficheros de tipo:", "Ver en:"})
        EXPECT_TRUE(etiquetas.contains(t)) << t << " no está en " << etiquetas.join(" | ").toStdString();
    for (const char* t : {"Abrir", "Cancelar"})
        EXPECT_TRUE(botones.contains(t)) << t << " no está en " << botones.join(" | ").toStdString();
    EXPECT_TRUE(dialogo.grab().save(pruebas::carpetaArtefactos("plataforma") + "/selector-de-archivos.png"));
}

}  // namespace
