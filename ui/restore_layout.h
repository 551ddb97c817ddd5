// The restore dialog's resources as data: dialog 310, one layout for both languages.
#pragma once

#include "ui/dialog_template.h"

namespace restore {

const dlg::Template& RestoreTemplate();

}  // namespace restore
