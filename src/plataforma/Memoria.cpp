#include "plataforma/Memoria.h"

#include <malloc.h>

namespace Memoria {

void devolverLibre() {
    // Every arena, not only the main one: the audio threads allocate in arenas of their own.
    malloc_trim(0);
}

}  // namespace Memoria
