#pragma once

// The heap's free pages back to the system. A call or a spoken turn allocates megabytes on its
// audio threads and frees them when it ends; the allocator keeps those pages for later, so a
// tray program that idles for hours after one call would hold them all that time.
namespace Memoria {

void devolverLibre();

}  // namespace Memoria
