#pragma once

#include <QColor>

// The island's pill. Its three accent colours are process-wide constants in the dark scheme;
// the palette and the pairing and settings views use them directly.
class Pildora {
public:
    static constexpr QColor lima{183, 255, 39};
    static constexpr QColor turquesa{45, 226, 200};
    static constexpr QColor rojo{255, 107, 107};
};
