#pragma once

namespace Platform {
// Maps the receipt and window font family onto a CJK font installed on this system.
void registerFontSubstitutions();
}
