#pragma once

#include <QUrl>

// The links of the "zuzadari" scheme that the widgets open; the tray app routes each to an action.
namespace EnlaceZentu {

const QUrl& llamada();    // zuzadari://llamada    start a voice call
const QUrl& chat();       // zuzadari://chat       open the chat panel
const QUrl& pendientes(); // zuzadari://pendientes the decision cards
const QUrl& creditos();   // zuzadari://creditos   the credits card
const QUrl& dia();        // zuzadari://dia        the day card
const QUrl& agentes();    // zuzadari://agentes    the agents card

// zuzadari://duda/<id>: the decision cards opened at that question.
QUrl duda(qint64 id);

}  // namespace EnlaceZentu
