#pragma once

// Qt's own texts (the file chooser, the text fields' context menu, standard buttons) in Spanish,
// as the rest of the interface. Only Qt's base catalogue is loaded: the programs use no other
// Qt module that shows texts of its own, and every catalogue costs memory while the program idles.
namespace Traducciones {

// Installs the catalogue in the running application (once); false when it is not installed on
// this system, and then Qt's texts stay in English.
bool instalarQt();

}  // namespace Traducciones
