#include "zentu/app/App.h"

int main(int argc, char** argv) { return App::main(argc, argv); }
