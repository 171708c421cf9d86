#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

class QWidget;

// The desktop's own file chooser for opening files, through the XDG desktop portal's FileChooser
// interface, where a running portal offers one. Elsewhere the caller shows Qt's dialog instead.
namespace SelectorArchivos {

struct Pedido {
    QString titulo;
    QString boton;     // the accept button's label
    bool varios = true;  // more than one file may be chosen
    QString carpeta;   // where it opens (the portal may keep its own last folder instead)
};

// Shows the portal's chooser over `padre`'s window and waits for the owner, the event loop
// running meanwhile. None: no portal offers a chooser (or it went away): show another dialog.
// Else the files chosen, none when the owner cancelled.
std::optional<QList<QUrl>> elegir(const Pedido& pedido, QWidget* padre = nullptr,
                                  const QString& servicio = QStringLiteral("org.freedesktop.portal.Desktop"));

}  // namespace SelectorArchivos
