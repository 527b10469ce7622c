// Everything an editing run owns: paths, geometry, the GOP list, the marks
// and the options. The window (or the CLI) holds one; jobs read and write it
// while the controls that would touch it are disabled.
#pragma once

#include <cstdint>
#include <string>

#include "clip_list.h"
#include "gop.h"
#include "program_tables.h"
#include "ts_packet.h"

namespace tavrel {

// WND/CSIZE: the custom picture width, as the option page accepts it.
constexpr int32_t kCSizeDefault = 640;
constexpr int32_t kCSizeMin = 240;
constexpr int32_t kCSizeMax = 5000;

struct Settings {
    int32_t selGop = 0;             // FILE/SELGOP
    std::string gopFolder;          // FILE/GOPF
    int32_t sound = 0;              // FILE/SOUND
    std::string soundPath;          // FILE/SOUND_PATH
    int32_t outTime = 0;            // FILE/OUTTIME
    int32_t pacMargin = 0;          // DATA/PACMARGIN
    int32_t pacMarginBack = 0;      // DATA/PACMARGINBACK
    int32_t reNo = 0;               // DATA/ReNo
    int32_t selectPid = 0;          // DATA/SELECT_PID
    int32_t optimize = 0;           // DATA/OPTIMIZE
    int32_t rewriteTc = 0;          // DATA/REWRITE_TC
    int32_t setFcSlider = 1;        // DATA/SET_FC_SLIDER
    int32_t addAcp = 0;             // DATA/ADD_ACP
    int32_t addTopPsi = 0;          // DATA/ADD_TOPPSI
    int32_t repeat = 0;             // DATA/REPEAT
    int32_t timeVopt = 1;           // DATA/TIME_VOPT
    int32_t ctGopMv = 120;          // DATA/CTGOPMV
    int32_t adjustPcr = 0;          // DATA/ADJUST_PCR
    int32_t cleanJoin = 0;          // DATA/CLEAN_JOIN: clean joins and clip edges
    int32_t discon = 0;             // DATA/DISCON
    int32_t out188 = 0;             // DATA/188OUT
    int32_t debugChk = 0;           // DEBUG/CHK
    int32_t outWnd = 0;             // WND/OUT_WND: pictures go to the output picture window
    int32_t native = 0;             // WND/NATIVE: that window shows pictures at their own size
    int32_t cSize = kCSizeDefault;  // WND/CSIZE: else at this width (240..5000)
    int32_t aspect = 9;             // WND/ASPECT: 9 auto, 0 4:3, 3 16:9
    int32_t grade = 2;              // WND/GRADE: 0 normal, 1 low, 2 high
};

struct EditState {
    std::string inputPath;
    std::string outputPath;
    GopList gopList;
    int64_t inMark = -1;
    int64_t outMark = -1;
    PacketGeometry geometry{0, 4, 4};  // DATA/PACKET, PACKET_HEAD, START_HEAD
    int32_t streamVideoPid = 0xFFFF;
    int64_t currentPacket = 0;
    Settings settings;
    // Ranges to keep, in output order (the "Clip List").
    ClipList clipList;
    // The first program list (Clipping page and the cut) and the path it
    // was read from; the second one serves only File Info.
    ProgramList pidList;
    std::string pidListSource;
    ProgramList fileInfoPidList;
};

}  // namespace tavrel
