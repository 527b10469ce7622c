// The program's windows and controls by name. The numbers are the controls' object
// names and accessible descriptions: tests and assistive tools find a
// control by them, so they never change.
#pragma once

#include <array>
#include <cstddef>

namespace tavrelcut::ids {

enum ControlId : int {
    kClose = 2,
    kInputEdit = 1000,
    kInputButton = 1001,
    kGetGop = 1002,
    kSlider = 1003,
    kInMark = 1004,
    kOutMark = 1005,
    kBack1 = 1006,
    kForward1 = 1007,
    kJumpIn = 1008,
    kAddClip = 1009,
    kClipList = 1010,
    kProgress = 1011,
    kJumpOut = 1012,
    kClipping = 1013,
    kOutputEdit = 1014,
    kOutputButton = 1015,
    kDeleteClip = 1016,
    kClipUp = 1017,
    kClipDown = 1018,
    kReNo = 1019,
    kPicture = 1021,
    kView = 1024,
    kPacketLabel = 1025,
    kPidLabel = 1026,
    kInLabel = 1027,
    kOutLabel = 1028,
    kMarginLabel = 1029,
    kForward30 = 1038,
    kBack60 = 1041,
    kForward60 = 1042,
    kOut188 = 1045,
    kSeekEdit = 1072,
    kSeekButton = 1073,
    kMarginBackLabel = 1080,
    kOutWindow = 1081,
    kBack30 = 1083,
    kOption = 1086,
    kFileInfo = 1087,
    kBackCustom = 1090,
    kForwardCustom = 1091,
    kErrorInfo = 1095,
    kTimeLabel = 1098,
    // Our own addition: "CM" runs the break detector on the recording in Input.
    kDetect = 1200,
};

// The other windows and their controls.
enum WindowControlId : int {
    kAboutBox = 100,
    kErrorInfoWindow = 192,
    kPictureMenu = 196,
    kMessageText = 1040,
    kFileInfoText = 1050,
    kErrorTree = 1076,
    kMessageYes = 1093,
    kMessageNo = 1094,
    kMessageOk = 1096,
    kMessageCancel = 1097,
    // The dialogs' own "Close" is kClose.
};

// The input list ("Input") and its controls.
enum InputListId : int {
    kInputListWindow = 168,
    kInputListMenu = 187,  // the list's context menu
    kInputList = 1065,
    kInputGetGop = 1066,
    kInputDelete = 1067,
    kInputAdd = 1068,
    kInputCancel = 1069,
    kInputCheck = 1075,
    // The context menu's items.
    kInputMenuGetGop = 32771,
    kInputMenuDelete = 32772,
    kInputMenuExplorer = 32773,
};

// The "Option" sheet and its pages.
enum OptionControlId : int {
    kSheetOk = 1,
    kSheetCancel = 2,
    kEditPage = 193,
    kClippingPage = 194,
    kStatusPage = 195,
    // "Edit"
    kMarginFrontEdit = 1043,
    kMarginBackEdit = 1092,
    kBothMargins = 1054,
    kMoveCountEdit = 1051,
    kRepeatBox = 1046,
    kSliderFocusBox = 1044,
    // "Clipping"
    kPidListView = 1030,
    kSelectPidBox = 1032,
    kRewriteTcBox = 1033,
    kOptimizeBox = 1034,
    kAddAcpBox = 1035,
    kAddTopPsiBox = 1037,
    kPidInputLabel = 1085,
    kGetPid = 1099,
    // "Status"
    kSelGopBox = 1047,
    kTimeVoptBox = 1048,
    kSoundBox = 1049,
    kGopFolderEdit = 1056,
    kGopFolderButton = 1057,
    kSoundPathEdit = 1058,
    kSoundPathButton = 1060,
    kOutTimeBox = 1077,
    kCSizeEdit = 1079,
};

// The controls a running job switches off: everything that starts a
// worker or changes what a worker reads.
inline constexpr std::array<int, 31> kBusySet = {
    kInputEdit, kInputButton, kOutputEdit, kOutputButton, kGetGop,    kClipping, kBack1,      kForward1,
    kInMark,    kOutMark,     kAddClip,    kDeleteClip,   kClipUp,    kClipDown, kSlider,     kClipList,
    kClose,     kOption,      kFileInfo,   kErrorInfo,    kBack60,    kBack30,   kBackCustom, kForwardCustom,
    kForward30, kForward60,   kJumpIn,     kJumpOut,      kOutWindow, kOut188,   kDetect};

// The slider and the GOP step buttons.
inline constexpr std::array<int, 13> kNavigationSet = {kSlider, kInMark,     kOutMark,      kBack1,  kForward1,
                                                       kJumpIn, kJumpOut,    kForward30,    kBack60, kForward60,
                                                       kBack30, kBackCustom, kForwardCustom};

// What works on the GOP list on screen: navigation, adding a clip from the
// marks, the clip list itself and "CM", which reads the recording by its
// GOPs. These are on only while the list belongs to the recording named in
// Input.
inline constexpr std::array<int, 16> kGopListSet = {
    kSlider, kInMark,    kOutMark, kBack1,      kForward1,      kJumpIn,  kJumpOut,  kForward30,
    kBack60, kForward60, kBack30,  kBackCustom, kForwardCustom, kAddClip, kClipList, kDetect};

template <std::size_t N>
constexpr bool contains(const std::array<int, N>& set, int id) {
    for (int x : set)
        if (x == id) return true;
    return false;
}

}  // namespace tavrelcut::ids
