#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings.h"
#include "test_util.h"

using namespace tavrel;
using tavrel::test::filesIn;
using tavrel::test::FileSizeLimit;
using tavrel::test::readText;
using tavrel::test::TempDir;
using tavrel::test::writeText;

namespace {

// What a save of the default record writes into a new file.
const std::string kFreshFile =
    "[INPUT]\nleft=-1\ntop=-1\nwide=320\nheight=260\n"
    "\n[FILE]\nINPUT=/rec/in.ts\nOUTPUT=/rec/out.ts\nSELGOP=0\nGOPF=\nSOUND=0\nSOUND_PATH=\nOUTTIME=0\n"
    "\n[DATA]\nReNo=0\nSELECT_PID=0\nOPTIMIZE=0\nREWRITE_TC=0\nPACMARGIN=0\nPACMARGINBACK=0\n"
    "SET_FC_SLIDER=1\nADD_ACP=0\nADD_TOPPSI=0\nREPEAT=0\nTIME_VOPT=1\nCTGOPMV=120\nADJUST_PCR=0\nCLEAN_JOIN=0\n"
    "\n[WND]\nOUT_WND=0\nNATIVE=0\nCSIZE=640\nASPECT=9\nGRADE=2\nleft=-1\ntop=-1\nVleft=-1\nVtop=-1\n"
    "\n[INPUTLIST]\nIN_ITEM1=100\nIN_ITEM2=100\nIN_ITEM3=100\nIN_ITEM4=100\n";

int32_t intOf(SettingsRecord rec, const SettingKey& k) { return *k.intField(rec); }
std::string textOf(SettingsRecord rec, const SettingKey& k) { return *k.textField(rec); }

}  // namespace

TEST(Settings, MissingFileGivesDefaultsAndSaveWritesTheCloseKeys) {
    TempDir dir;
    const std::string ini = dir.path("tavrelcut.ini");
    const SettingsRecord loaded = loadSettings(ini);
    const SettingsRecord fresh;
    // The table, the loader and the record's own initialisers agree.
    for (const SettingKey& k : settingsKeys()) {
        SCOPED_TRACE(std::string(k.section) + "/" + k.key);
        if (k.type == SettingType::Int) {
            EXPECT_EQ(intOf(loaded, k), k.intDefault);
            EXPECT_EQ(intOf(fresh, k), k.intDefault);
        } else {
            EXPECT_EQ(textOf(loaded, k), k.textDefault);
        }
    }
    EXPECT_EQ(settingsKeys().size(), 46u);

    SettingsRecord rec = loaded;
    rec.inputPath = "/rec/in.ts";
    rec.outputPath = "/rec/out.ts";
    int err = -1;
    ASSERT_TRUE(saveSettings(ini, rec, &err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(readText(ini), kFreshFile);
    EXPECT_EQ(filesIn(dir.root()), std::vector<std::string>{"tavrelcut.ini"});

    // Every value written comes back; FILE/INPUT and the read-only keys do not.
    rec.options.reNo = 1;
    rec.options.ctGopMv = -30;
    rec.options.grade = 0;
    rec.options.gopFolder = "/rec/gops/";
    rec.options.out188 = 1;
    rec.options.debugChk = 1;
    rec.windows.inputColumns[1] = 0;
    rec.windows.viewTop = 77;
    rec.geometry = {192, 4, 4};
    ASSERT_TRUE(saveSettings(ini, rec));
    const SettingsRecord back = loadSettings(ini);
    EXPECT_EQ(back.options.reNo, 1);
    EXPECT_EQ(back.options.ctGopMv, -30);
    EXPECT_EQ(back.options.grade, 0);
    EXPECT_EQ(back.options.gopFolder, "/rec/gops/");
    EXPECT_EQ(back.windows.inputColumns[1], 0);
    EXPECT_EQ(back.windows.viewTop, 77);
    EXPECT_EQ(back.outputPath, "/rec/out.ts");
    EXPECT_EQ(back.inputPath, "");
    EXPECT_EQ(back.options.out188, 0);
    EXPECT_EQ(back.options.debugChk, 0);
    EXPECT_EQ(back.geometry.size, 0);
    EXPECT_EQ(readText(ini).find("188OUT"), std::string::npos);
}

TEST(Settings, SaveKeepsCommentsUnknownEntriesOrderSpellingAndLineEnds) {
    TempDir dir;
    const std::string ini = dir.path("t.ini");
    writeText(ini,
              "; written by hand\r\n"
              "[data]\r\n"
              "reno = 1\r\n"
              "MY_KEY=keep me\r\n"
              "PACKET=188\r\n"
              "\r\n"
              "; about the next section\r\n"
              "[Custom]\r\n"
              "x=\"quoted\"\r\n"
              "[ERRINFO]\r\n"
              "left=5\r\n"
              "top=6");  // no line end at the end of the file
    SettingsRecord rec = loadSettings(ini);
    EXPECT_EQ(rec.options.reNo, 1);
    EXPECT_EQ(rec.geometry.size, 188);
    EXPECT_EQ(rec.windows.errorInfoLeft, 5);
    rec.options.reNo = 0;
    rec.options.pacMargin = 3;
    ASSERT_TRUE(saveSettings(ini, rec));
    // Values change in place under the spelling found; the DATA keys the
    // file lacked follow its last DATA key, new sections follow the old
    // ones, and the file's CR LF stays.
    EXPECT_EQ(readText(ini),
              "; written by hand\r\n[data]\r\nreno = 0\r\nMY_KEY=keep me\r\nPACKET=188\r\n"
              "SELECT_PID=0\r\nOPTIMIZE=0\r\nREWRITE_TC=0\r\nPACMARGIN=3\r\nPACMARGINBACK=0\r\n"
              "SET_FC_SLIDER=1\r\nADD_ACP=0\r\nADD_TOPPSI=0\r\nREPEAT=0\r\nTIME_VOPT=1\r\nCTGOPMV=120\r\n"
              "ADJUST_PCR=0\r\nCLEAN_JOIN=0\r\n\r\n; about the next section\r\n[Custom]\r\nx=\"quoted\"\r\n"
              "[ERRINFO]\r\nleft=5\r\ntop=6\r\n"
              "\r\n[INPUT]\r\nleft=-1\r\ntop=-1\r\nwide=320\r\nheight=260\r\n"
              "\r\n[FILE]\r\nINPUT=\r\nOUTPUT=\r\nSELGOP=0\r\nGOPF=\r\nSOUND=0\r\nSOUND_PATH=\r\nOUTTIME=0\r\n"
              "\r\n[WND]\r\nOUT_WND=0\r\nNATIVE=0\r\nCSIZE=640\r\nASPECT=9\r\nGRADE=2\r\n"
              "left=-1\r\ntop=-1\r\nVleft=-1\r\nVtop=-1\r\n"
              "\r\n[INPUTLIST]\r\nIN_ITEM1=100\r\nIN_ITEM2=100\r\nIN_ITEM3=100\r\nIN_ITEM4=100\r\n");

    // The error window writes its two keys and nothing else.
    const std::string before = readText(ini);
    ASSERT_TRUE(saveErrorInfoPosition(ini, -1, 480));
    std::string expected = before;
    expected.replace(expected.find("left=5"), 6, "left=-1");
    expected.replace(expected.find("top=6"), 5, "top=480");
    EXPECT_EQ(readText(ini), expected);
    EXPECT_EQ(loadSettings(ini).windows.errorInfoTop, 480);
}

TEST(Settings, IntegersAndNamesReadLikeTheProfileFunctions) {
    const IniDocument doc = IniDocument::parse(
        "top=9\n"  // before any section: never found
        "[Data]\n"
        "a=12x\n b = -5 \nc=+7\nd=abc\ne=\nf=0x10\ng=\"42\"\nh=- 5\ni=4294967297\nj= \t\n"
        "[DATA]\n"
        "z=1\n");
    EXPECT_EQ(doc.getInt("data", "A", -1), 12);
    EXPECT_EQ(doc.getInt("DATA", "b", -1), -5);
    EXPECT_EQ(doc.getInt("DATA", "c", -1), 7);
    EXPECT_EQ(doc.getInt("DATA", "d", -1), 0);
    EXPECT_EQ(doc.getInt("DATA", "e", -1), -1);  // empty: the default
    EXPECT_EQ(doc.getInt("DATA", "f", -1), 0);
    EXPECT_EQ(doc.getInt("DATA", "g", -1), 42);
    EXPECT_EQ(doc.getInt("DATA", "h", -1), 0);
    EXPECT_EQ(doc.getInt("DATA", "i", -1), 1);  // wraps at 32 bits
    EXPECT_EQ(doc.getInt("DATA", "j", -1), -1);
    EXPECT_EQ(doc.getInt("DATA", "missing", 120), 120);
    EXPECT_EQ(doc.getInt("DATA", "z", -1), -1);  // only the first [DATA] is searched
    EXPECT_EQ(doc.getInt("", "top", -1), -1);
    EXPECT_EQ(doc.getText("Data", "j", "def"), "");

    TempDir dir;
    const std::string ini = dir.path("t.ini");
    writeText(ini, "[dAtA]\nRENO=1\nCTGOPMV=12x\nPACMARGIN=junk\nSET_FC_SLIDER=\n[wnd]\nCsize=  800px\n");
    const SettingsRecord rec = loadSettings(ini);
    EXPECT_EQ(rec.options.reNo, 1);
    EXPECT_EQ(rec.options.ctGopMv, 12);
    EXPECT_EQ(rec.options.pacMargin, 0);
    EXPECT_EQ(rec.options.setFcSlider, 1);
    EXPECT_EQ(rec.options.cSize, 800);
    // Saved back under the spelling found.
    ASSERT_TRUE(saveSettings(ini, rec));
    const std::string text = readText(ini);
    const std::string head = "[dAtA]\nRENO=1\nCTGOPMV=12\nPACMARGIN=0\nSET_FC_SLIDER=1\nSELECT_PID=0\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find("[wnd]\nCsize=  800\nOUT_WND=0\n"), std::string::npos);
}

// Numbers that size a window or memory come back only within the range the
// program accepts; anything else falls back to the default, with one note.
TEST(Settings, SizesOutsideTheirRangeFallBackToTheDefaultWithANote) {
    TempDir dir;
    const std::string ini = dir.path("t.ini");
    struct Case {
        std::string value;
        int32_t used;
        std::string note;
    };
    const Case cases[] = {
        {"2147483647", 640, "WND/CSIZE=2147483647 is outside 240..5000; 640 is used"},
        {"-640", 640, "WND/CSIZE=-640 is outside 240..5000; 640 is used"},
        {"50000", 640, "WND/CSIZE=50000 is outside 240..5000; 640 is used"},
        {"100000", 640, "WND/CSIZE=100000 is outside 240..5000; 640 is used"},
        {"4294967536", 240, ""},  // wraps to 240 as the platform reads it: kept
        {"239", 640, "WND/CSIZE=239 is outside 240..5000; 640 is used"},
        {"5000", 5000, ""},
        {"1280", 1280, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        writeText(ini, "[WND]\nOUT_WND=1\nCSIZE=" + c.value + "\n");
        std::vector<std::string> notes;
        const SettingsRecord rec = loadSettings(ini, &notes);
        EXPECT_EQ(rec.options.cSize, c.used);
        EXPECT_EQ(rec.options.outWnd, 1);
        EXPECT_EQ(notes, c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note});
    }

    // Every other place, size, column width, margin and the packet geometry
    // the same way; values inside the ranges are kept.
    writeText(ini,
              "[WND]\nleft=2147483647\ntop=-32768\nVleft=32768\nVtop=100\n"
              "[INPUT]\nleft=-40000\nwide=0\nheight=8192\n"
              "[INPUTLIST]\nIN_ITEM1=-1\nIN_ITEM2=0\nIN_ITEM3=100000\n"
              "[DATA]\nPACMARGIN=101\nPACMARGINBACK=100\nPACKET=190\nSTART_HEAD=5\nCTGOPMV=-30\n"
              "[ERRINFO]\nleft=-2147483648\ntop=32767\n");
    std::vector<std::string> notes;
    const SettingsRecord rec = loadSettings(ini, &notes);
    EXPECT_EQ(rec.windows.left, -1);
    EXPECT_EQ(rec.windows.top, -32768);
    EXPECT_EQ(rec.windows.viewLeft, -1);
    EXPECT_EQ(rec.windows.viewTop, 100);
    EXPECT_EQ(rec.windows.inputLeft, -1);
    EXPECT_EQ(rec.windows.inputWidth, 320);
    EXPECT_EQ(rec.windows.inputHeight, 8192);
    EXPECT_EQ(rec.windows.inputColumns[0], 100);
    EXPECT_EQ(rec.windows.inputColumns[1], 0);
    EXPECT_EQ(rec.windows.inputColumns[2], 100);
    EXPECT_EQ(rec.options.pacMargin, 0);
    EXPECT_EQ(rec.options.pacMarginBack, 100);
    EXPECT_EQ(rec.geometry.size, 0);
    EXPECT_EQ(rec.geometry.syncOffset, 4);
    EXPECT_EQ(rec.options.ctGopMv, -30);  // a step count sizes nothing: kept
    EXPECT_EQ(rec.windows.errorInfoLeft, -1);
    EXPECT_EQ(rec.windows.errorInfoTop, 32767);
    const std::vector<std::string> want = {
        "INPUT/left=-40000 is outside -32768..32767; -1 is used",
        "INPUT/wide=0 is outside 1..8192; 320 is used",
        "DATA/PACMARGIN=101 is outside 0..100; 0 is used",
        "INPUTLIST/IN_ITEM1=-1 is outside 0..8192; 100 is used",
        "INPUTLIST/IN_ITEM3=100000 is outside 0..8192; 100 is used",
        "WND/left=2147483647 is outside -32768..32767; -1 is used",
        "WND/Vleft=32768 is outside -32768..32767; -1 is used",
        "DATA/PACKET=190 is not a packet size (0, 188, 192, 204 or 208); 0 is used",
        "DATA/START_HEAD=5 is outside 0..4; 4 is used",
        "ERRINFO/left=-2147483648 is outside -32768..32767; -1 is used",
    };
    EXPECT_EQ(notes, want);
    // The close writes the values in use: the next start notes only the keys
    // the close never writes.
    ASSERT_TRUE(saveSettings(ini, rec));
    notes.clear();
    EXPECT_EQ(loadSettings(ini, &notes).windows.inputWidth, 320);
    EXPECT_EQ(notes, std::vector<std::string>(want.end() - 3, want.end()));
}

TEST(Settings, TextValuesComeBackAsWritten) {
    TempDir dir;
    const std::string ini = dir.path("t.ini");
    const std::string longPath = "/" + std::string(310, 'p');
    // 297 bytes then a three-byte character that would end past 298.
    const std::string cut = "/" + std::string(296, 'q') + "\xE3\x81\x82" + "tail";
    writeText(ini, "[FILE]\nGOPF=/rec/a,b\nSOUND_PATH=@x.wav\nOUTPUT=" + longPath + "\n[Other]\nv=" + cut + "\n");
    SettingsRecord rec = loadSettings(ini);
    EXPECT_EQ(rec.options.gopFolder, "/rec/a,b");
    EXPECT_EQ(rec.options.soundPath, "@x.wav");
    EXPECT_EQ(rec.outputPath, longPath.substr(0, 298));
    IniDocument doc;
    ASSERT_TRUE(readIniFile(ini, doc));
    EXPECT_EQ(doc.getText("other", "V", ""), cut.substr(0, 297));

    rec.outputPath = "  /rec/with blanks.ts ";
    rec.inputPath = "/rec/bad\nname.ts";  // cannot be stored: the line is left alone
    ASSERT_TRUE(saveSettings(ini, rec));
    const std::string text = readText(ini);
    EXPECT_NE(text.find("GOPF=/rec/a,b\n"), std::string::npos);
    EXPECT_NE(text.find("SOUND_PATH=@x.wav\n"), std::string::npos);
    EXPECT_NE(text.find("OUTPUT=\"  /rec/with blanks.ts \"\n"), std::string::npos);
    EXPECT_EQ(text.find("bad"), std::string::npos);
    EXPECT_EQ(loadSettings(ini).outputPath, "  /rec/with blanks.ts ");

    doc = IniDocument::parse("[S]\nk=1\n");
    EXPECT_FALSE(doc.set("S", "k", "a\r\nb"));
    EXPECT_FALSE(doc.set("S", "a=b", "1"));
    EXPECT_FALSE(doc.set("S", " k", "1"));
    EXPECT_FALSE(doc.set("", "k", "1"));
    EXPECT_EQ(doc.serialize(), "[S]\nk=1\n");
    ASSERT_TRUE(doc.set("S", "q", "\"x\""));
    EXPECT_EQ(doc.find("s", "Q"), "\"x\"");
}

TEST(Settings, FailedSaveLeavesTheOldFile) {
    TempDir dir;
    // The folder of the path is a regular file.
    writeText(dir.path("plain"), "x");
    int err = 0;
    EXPECT_FALSE(saveSettings(dir.path("plain/t.ini"), SettingsRecord{}, &err));
    EXPECT_EQ(err, ENOTDIR);

    // A disk that fills up during the write.
    const std::string ini = dir.path("t.ini");
    const std::string old = "[DATA]\nReNo=1\n; mine\n";
    writeText(ini, old);
    {
        FileSizeLimit limit(30);
        EXPECT_FALSE(saveSettings(ini, SettingsRecord{}, &err));
        EXPECT_EQ(err, EFBIG);
        EXPECT_FALSE(saveErrorInfoPosition(ini, 1, 2, &err));
    }
    EXPECT_EQ(readText(ini), old);
    EXPECT_EQ(filesIn(dir.root()), (std::vector<std::string>{"plain", "t.ini"}));

    // A settings path that is a folder is not replaced.
    std::filesystem::create_directory(dir.path("d.ini"));
    EXPECT_FALSE(saveSettings(dir.path("d.ini"), SettingsRecord{}, &err));
    EXPECT_EQ(err, EISDIR);
}

TEST(Settings, PlaceBesideTheProgramOrInTheConfigFolder) {
    TempDir dir;
    EXPECT_EQ(defaultSettingsPath(dir.path("tavrelcut")), dir.path("tavrelcut.ini"));
    EXPECT_EQ(defaultSettingsPath(dir.path("cutter.bin")), dir.path("cutter.ini"));
    EXPECT_EQ(inputListPath(dir.path("tavrelcut.ini")), dir.path("qxinput.txt"));

    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const std::string missing = dir.path("no-such-folder/tavrelcut");
    setenv("XDG_CONFIG_HOME", dir.path("cfg").c_str(), 1);
    const std::string ini = defaultSettingsPath(missing);
    EXPECT_EQ(ini, dir.path("cfg/tavrelcut/tavrelcut.ini"));
    EXPECT_EQ(inputListPath(ini), dir.path("cfg/tavrelcut/qxinput.txt"));
    setenv("XDG_CONFIG_HOME", "relative", 1);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(defaultSettingsPath(missing), home + "/.config/tavrelcut/tavrelcut.ini");
    }
    if (oldXdg) {
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }

    // Saving creates the folders.
    ASSERT_TRUE(saveSettings(ini, SettingsRecord{}));
    EXPECT_EQ(loadSettings(ini).options.ctGopMv, 120);
    EXPECT_NE(readText(ini).find("CTGOPMV=120\n"), std::string::npos);
}
