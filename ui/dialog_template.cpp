#include "ui/dialog_template.h"

namespace dlg {

int DuToPxX(int du, const BaseUnits& units) {
    return (du * units.x + 2) / 4;
}

int DuToPxY(int du, const BaseUnits& units) {
    return (du * units.y + 4) / 8;
}

}  // namespace dlg
