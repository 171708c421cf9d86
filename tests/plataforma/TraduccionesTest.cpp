// Qt's own texts in Spanish: the file chooser, the text fields' context menu, standard buttons.
#include "comun/Ayudas.h"
#include "plataforma/Traducciones.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
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
