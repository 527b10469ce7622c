// The pages of "Option": "Edit" (clip margins, the custom step, the LR
// buttons' repeat, the slider focus), "Clipping" (the output rewrites and
// the PID selection) and "Status" (time texts, the picture width, the
// completion sound, the GOP index folder). Each page keeps the values it
// edits and writes them into the sheet's settings record on OK.
#pragma once

#include <functional>

#include "tree_property_sheet.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tavrel {
struct ProgramList;
struct Settings;
}  // namespace tavrel

namespace tavrelcut {

using MessageBox = TreePropertySheet::MessageBox;

class EditPage : public PropertyPage {
    Q_OBJECT
public:
    EditPage(tavrel::Settings& settings, MessageBox messages);
    Refusal check() override;
    void apply() override;

private:
    void onBoth();

    tavrel::Settings& m_settings;
    MessageBox m_messages;
    QLineEdit* m_front = nullptr;
    QLineEdit* m_back = nullptr;
    QLineEdit* m_moveCount = nullptr;
    QCheckBox* m_repeat = nullptr;
    QCheckBox* m_sliderFocus = nullptr;
};

class ClippingPage : public PropertyPage {
    Q_OBJECT
public:
    // pidList is the window's own list: "Get PID" (getPids) replaces it at
    // once, and OK writes the selection flags into it.
    ClippingPage(tavrel::Settings& settings, tavrel::ProgramList& pidList, const QString& inputPath,
                 std::function<void()> getPids, MessageBox messages);
    void apply() override;

private:
    // One item per record of the list, checked by its selection flag, or
    // by its membership in the minimum set while "only minimum" is checked.
    void fillList();
    void followSelectPid();
    void onGetPid();

    tavrel::Settings& m_settings;
    tavrel::ProgramList& m_pidList;
    std::function<void()> m_getPids;
    MessageBox m_messages;
    QCheckBox* m_rewriteTc = nullptr;
    QCheckBox* m_addAcp = nullptr;
    QCheckBox* m_addTopPsi = nullptr;
    QCheckBox* m_selectPid = nullptr;
    QCheckBox* m_optimize = nullptr;
    QTreeWidget* m_list = nullptr;
};

class StatusPage : public PropertyPage {
    Q_OBJECT
public:
    explicit StatusPage(tavrel::Settings& settings);
    Refusal check() override;
    void apply() override;

private:
    // The controls from the page's stored values.
    void refresh();
    void followBoxes();
    void chooseSound();
    void chooseFolder();

    tavrel::Settings& m_settings;
    // The page's stored values: what the sheet opened with, the check boxes
    // as clicked and the choosers' choices. Typed texts join them on OK.
    int m_timeVopt, m_outTime, m_sound, m_selGop, m_cSize;
    QString m_soundPath, m_gopFolder;
    QCheckBox* m_timeVoptBox = nullptr;
    QCheckBox* m_outTimeBox = nullptr;
    QCheckBox* m_soundBox = nullptr;
    QCheckBox* m_selGopBox = nullptr;
    QLineEdit* m_cSizeEdit = nullptr;
    QLineEdit* m_soundEdit = nullptr;
    QLineEdit* m_folderEdit = nullptr;
    QPushButton* m_soundButton = nullptr;
    QPushButton* m_folderButton = nullptr;
};

}  // namespace tavrelcut
