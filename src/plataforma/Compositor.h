#pragma once

// Whether windows can be translucent: a compositing manager runs. On X11 that is the owner of the
// "_NET_WM_CM_S<screen>" selection; Wayland always composites; offscreen rendering keeps its
// alpha channel. Without one, translucent surfaces must be painted opaque.
namespace Compositor {

bool activo();

}  // namespace Compositor
