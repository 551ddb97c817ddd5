#include "ui/installer_layout.h"

#include "resources/strings/dialog_texts.h"

namespace installer {
namespace {

using dlg::Control;
using dlg::Kind;
using dlg::MenuItem;
using dlg::MenuKind;
using namespace dlg;  // styles
using resources::kItemPopupExtended;
using resources::kItemPopupFile;
using resources::kItemPopupHelp;
using resources::kItemPopupOptions;

constexpr unsigned kListStyle = kMultiSelect | kNoSortHeader | kBorder | kTabStop;

// id, kind, text, x y w h, style. The port and speed labels are a few units wider than in
// the original template (our dialog font's colons need them), and the status line has room
// for three lines, where a port's trouble and its remedy are told in full; the rows below
// it moved down to make that room.
constexpr Control kEnglish[] = {
    {kIdGroup, Kind::kGroupBox, kIdGroup, {6, 3, 237, 99}, kNoStyle},
    {kIdList, Kind::kListView, 0, {13, 14, 223, 64}, kListStyle},
    {kIdAdd, Kind::kPushButton, kIdAdd, {13, 82, 50, 14}, kTabStop},
    {kIdRemove, Kind::kPushButton, kIdRemove, {69, 82, 50, 14}, kTabStop},
    {kIdStatus, Kind::kStatic, kIdStatus, {6, 105, 237, 27}, kWordWrap},
    {kIdPortLabel, Kind::kStatic, kIdPortLabel, {6, 138, 19, 8}, kNoStyle},
    {kIdPort, Kind::kDropList, 0, {26, 136, 50, 64}, kVScroll | kTabStop},
    {kIdSpeedLabel, Kind::kStatic, kIdSpeedLabel, {166, 138, 26, 9}, kNoStyle},
    {kIdSpeed, Kind::kDropList, 0, {193, 137, 50, 82}, kTabStop},
    {kIdProgress, Kind::kProgress, 0, {6, 153, 237, 10}, kNoStyle},
    {kIdCloseOnFinish, Kind::kCheckBox, kIdCloseOnFinish, {6, 167, 73, 10}, kTabStop},
    {kIdElapsed, Kind::kStatic, 0, {125, 166, 118, 10}, kNoStyle},
    {kIdCancel, Kind::kDefPushButton, kIdCancel, {100, 183, 50, 14}, kTabStop},
    {kIdLinkIcon, Kind::kIcon, 0, {222, 177, 20, 20}, kNotify},
};

// German texts are longer: wider buttons and labels, the boxes moved to make room.
constexpr Control kGerman[] = {
    {kIdGroup, Kind::kGroupBox, kIdGroup, {6, 3, 237, 99}, kNoStyle},
    {kIdList, Kind::kListView, 0, {13, 14, 223, 64}, kListStyle},
    {kIdAdd, Kind::kPushButton, kIdAdd, {13, 82, 56, 14}, kTabStop},
    {kIdRemove, Kind::kPushButton, kIdRemove, {75, 82, 56, 14}, kTabStop},
    {kIdStatus, Kind::kStatic, kIdStatus, {6, 105, 237, 27}, kWordWrap},
    {kIdPortLabel, Kind::kStatic, kIdPortLabel, {6, 138, 40, 8}, kNoStyle},
    {kIdPort, Kind::kDropList, 0, {48, 136, 50, 64}, kVScroll | kTabStop},
    {kIdSpeedLabel, Kind::kStatic, kIdSpeedLabel, {125, 138, 66, 9}, kNoStyle},
    {kIdSpeed, Kind::kDropList, 0, {193, 137, 50, 82}, kTabStop},
    {kIdProgress, Kind::kProgress, 0, {6, 153, 237, 10}, kNoStyle},
    {kIdCloseOnFinish, Kind::kCheckBox, kIdCloseOnFinish, {6, 167, 130, 10}, kTabStop},
    {kIdElapsed, Kind::kStatic, 0, {150, 166, 93, 10}, kNoStyle},
    {kIdCancel, Kind::kDefPushButton, kIdCancel, {100, 183, 50, 14}, kTabStop},
    {kIdLinkIcon, Kind::kIcon, 0, {222, 177, 20, 20}, kNotify},
};

constexpr dlg::Template kEnglishTemplate{resources::kDlgInstaller, 250, 205, kEnglish};
constexpr dlg::Template kGermanTemplate{resources::kDlgInstaller, 250, 205, kGerman};

constexpr MenuItem kEnglishMenu[] = {
    {MenuKind::kPopup, 0, kItemPopupFile},
    {MenuKind::kCommand, kIdAdd, kIdAdd},
    {MenuKind::kSeparator, 0, 0},  // the recent files follow
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kPopup, 0, kItemPopupOptions},
    {MenuKind::kCheck, kCmdFileList, kCmdFileList},
    {MenuKind::kCheck, kCmdOpenDialog, kCmdOpenDialog},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kPopup, 0, kItemPopupExtended},
    {MenuKind::kCheck, kCmdPicCompress, kCmdPicCompress},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kCheck, kCmdSetTime, kCmdSetTime},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kPopup, 0, kCmdDestination},
    {MenuKind::kCheck, kCmdToRam, kCmdToRam},
    {MenuKind::kCheck, kCmdToCard, kCmdToCard},
    {MenuKind::kCheck, kCmdToAuto, kCmdToAuto},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kCheck, kCmdVerify, kCmdVerify},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCheck, kCmdBackup, kCmdBackup},
    {MenuKind::kCommand, kCmdHistory, kCmdHistory},
    {MenuKind::kCommand, kCmdDesktopUsers, kCmdDesktopUsers},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCheck, kCmdBackupAll, kCmdBackupAll},
    {MenuKind::kCommand, kCmdRestore, kCmdRestore},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCommand, kCmdRegister, kCmdRegister},
    {MenuKind::kCommand, kCmdUnregister, kCmdUnregister},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kCommand, kCmdHelp, kCmdHelp},
    {MenuKind::kCommand, kCmdCheckConnection, kCmdCheckConnection},
    {MenuKind::kCommand, kCmdAbout, kCmdAbout},
};

constexpr MenuItem kGermanMenu[] = {
    {MenuKind::kPopup, 0, kItemPopupFile},
    {MenuKind::kCommand, kIdAdd, kIdAdd},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kPopup, 0, kItemPopupOptions},
    {MenuKind::kCheck, kCmdFileList, kCmdFileList},
    {MenuKind::kCheck, kCmdOpenDialog, kCmdOpenDialog},
    {MenuKind::kPopup, 0, kItemPopupExtended},
    {MenuKind::kCheck, kCmdPicCompress, kCmdPicCompress},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCheck, kCmdSetTime, kCmdSetTime},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kPopup, 0, kCmdDestination},
    {MenuKind::kCheck, kCmdToRam, kCmdToRam},
    {MenuKind::kCheck, kCmdToCard, kCmdToCard},
    {MenuKind::kCheck, kCmdToAuto, kCmdToAuto},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kCheck, kCmdVerify, kCmdVerify},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCheck, kCmdBackup, kCmdBackup},
    {MenuKind::kCommand, kCmdHistory, kCmdHistory},
    {MenuKind::kCommand, kCmdDesktopUsers, kCmdDesktopUsers},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCheck, kCmdBackupAll, kCmdBackupAll},
    {MenuKind::kCommand, kCmdRestore, kCmdRestore},
    {MenuKind::kSeparator, 0, 0},
    {MenuKind::kCommand, kCmdRegister, kCmdRegister},
    {MenuKind::kCommand, kCmdUnregister, kCmdUnregister},
    {MenuKind::kEnd, 0, 0},
    {MenuKind::kPopup, 0, kItemPopupHelp},
    {MenuKind::kCommand, kCmdHelp, kCmdHelp},
    {MenuKind::kCommand, kCmdCheckConnection, kCmdCheckConnection},
    {MenuKind::kCommand, kCmdAbout, kCmdAbout},
    {MenuKind::kEnd, 0, 0},
};

}  // namespace

const dlg::Template& InstallerTemplate(resources::Language language) {
    return language == resources::Language::kGerman ? kGermanTemplate : kEnglishTemplate;
}

std::span<const dlg::MenuItem> InstallerMenu(resources::Language language) {
    if (language == resources::Language::kGerman) return kGermanMenu;
    return kEnglishMenu;
}

}  // namespace installer
