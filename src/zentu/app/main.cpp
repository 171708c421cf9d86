// The zentu executable: the application, on the window-system platform chosen for it.
#include "zentu/app/App.h"

#include "plataforma/PlataformaQt.h"

int main(int argc, char** argv) {
    PlataformaQt::Argumentos conPlataforma(argc, argv);
    return App::main(conPlataforma.argc(), conPlataforma.argv());
}
