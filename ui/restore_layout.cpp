#include "ui/restore_layout.h"

#include "resources/strings/dialog_texts.h"
#include "ui/restore_dlg.h"

namespace restore {
namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

// id, kind, text, x y w h, style. The buttons and the box have room for the German texts.
constexpr Control kControls[] = {
    {resources::kItemText1, Kind::kStatic, resources::kItemText1, {7, 9, 40, 8}, kNoStyle},
    {kIdUsers, Kind::kDropList, 0, {48, 7, 140, 120}, kVScroll | kTabStop},
    {kIdList, Kind::kListView, 0, {7, 25, 266, 124}, kNoSortHeader | kBorder | kTabStop},
    {kIdAll, Kind::kCheckBox, kIdAll, {7, 153, 120, 10}, kTabStop},
    {kIdNote, Kind::kStatic, 0, {7, 167, 266, 16}, kWordWrap},
    {kIdOk, Kind::kDefPushButton, kIdOk, {113, 186, 100, 14}, kTabStop},
    {kIdCancel, Kind::kPushButton, kIdCancel, {219, 186, 54, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgRestore, 280, 207, kControls};

}  // namespace

const dlg::Template& RestoreTemplate() {
    return kTemplate;
}

}  // namespace restore
