#include "zentu/isla/Pildora.h"
