// File Info: the audio frame size rule and sync test, both ADTS identifiers,
// the dialog text's special lines, the last-block rule, and the text for the
// test recordings checked against ffprobe's reading of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "edit_state.h"
#include "file_info.h"
#include "recording_host.h"
#include "test_util.h"
#include "ts_packet.h"

using namespace tavrel;
using tavrel::test::RecordingHost;

namespace {

using Bytes = std::vector<uint8_t>;

// A 14-byte PES header with a PTS (flags 0x80, header length 5).
Bytes pesHeader(uint8_t streamId, int64_t pts) {
    return {0x00,
            0x00,
            0x01,
            streamId,
            0x00,
            0x00,
            0x80,
            0x80,
            0x05,
            static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
            static_cast<uint8_t>(pts >> 22),
            static_cast<uint8_t>(0x01 | ((pts >> 14) & 0xFE)),
            static_cast<uint8_t>(pts >> 7),
            static_cast<uint8_t>(0x01 | ((pts << 1) & 0xFE))};
}

// ADTS header: layer byte (0xF1 MPEG-4 / 0xF9 MPEG-2 identifier), LC,
// 48 kHz (index 3), two channels, the given frame length and fullness.
Bytes adtsHeader(uint8_t layerByte, int frameLength, int fullness) {
    const int profile = 1, sfi = 3, channels = 2;
    return {0xFF,
            layerByte,
            static_cast<uint8_t>((profile << 6) | (sfi << 2) | (channels >> 2)),
            static_cast<uint8_t>(((channels & 3) << 6) | ((frameLength >> 11) & 3)),
            static_cast<uint8_t>(frameLength >> 3),
            static_cast<uint8_t>(((frameLength & 7) << 5) | (fullness >> 6)),
            static_cast<uint8_t>((fullness & 0x3F) << 2)};
}

// Examines every position of data like one block of the audio pass.
FileInfoScan examineAll(const Bytes& data, FileInfoPass pass, int streamType, bool* complete = nullptr) {
    FileInfoScan scan;
    bool done = false;
    for (size_t pos = 0; pos < data.size() && !done; ++pos)
        done = examineFileInfoPosition(scan, pass, streamType, data.data(), data.size(), pos);
    if (complete) *complete = done;
    return scan;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string lineOf(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return "";
    return text.substr(at, text.find("\r\n", at) - at);
}

}  // namespace

TEST(FileInfo, MpegAudioFrameSizeFollowsLayerBitRateAndSamplingRate) {
    // Layer II, 192 kbit/s, 48 kHz: 144 * 192 / 48 = 576.
    const uint8_t l2[4] = {0xFF, 0xFD, 0xA4, 0xC0};
    EXPECT_EQ(mpegAudioFrameSize(l2), 576);
    // Layer III, 128 kbit/s, 44.1 kHz with padding: 417.96 + 1, truncated.
    const uint8_t l3[4] = {0xFF, 0xFB, 0x92, 0x00};
    EXPECT_EQ(mpegAudioFrameSize(l3), 418);
    // Layer I, 384 kbit/s, 48 kHz, padding: 4 * (12 * 384 / 48 + 1) = 388.
    const uint8_t l1[4] = {0xFF, 0xFF, 0xC6, 0x00};
    EXPECT_EQ(mpegAudioFrameSize(l1), 388);
    // Layer I, 32 kbit/s, 44.1 kHz: 4 * trunc(8.707) = 32 (truncated before the 4).
    const uint8_t l1s[4] = {0xFF, 0xFF, 0x10, 0x00};
    EXPECT_EQ(mpegAudioFrameSize(l1s), 32);
    // Free format, bad bit rate, reserved rate and reserved layer give 0.
    const uint8_t bad[4][4] = {
        {0xFF, 0xFD, 0x04, 0}, {0xFF, 0xFD, 0xF4, 0}, {0xFF, 0xFD, 0xAC, 0}, {0xFF, 0xF9, 0xA4, 0}};
    for (const auto& h : bad) EXPECT_EQ(mpegAudioFrameSize(h), 0);

    FileInfoRecord r;
    decodeMpegAudioHeader(l3, r);
    EXPECT_EQ(r.audioFormat, "MPEG1");
    EXPECT_EQ(r.audioLayer, "Layer-3");
    EXPECT_EQ(r.audioBitRate, 128);
    EXPECT_EQ(r.samplingRate, 44100);
    EXPECT_EQ(r.channelText, "Stereo");
    EXPECT_NEAR(r.frameTime, 418 / 44.1, 1e-9);
}

TEST(FileInfo, MpegAudioSyncNeedsAPlausibleFrameSize) {
    const uint8_t ok576[4] = {0xFF, 0xFD, 0xA4, 0xC0};     // 576 = 18 * 32
    const uint8_t l2small[4] = {0xFF, 0xFD, 0x54, 0x00};   // 80 kbit/s, 48 kHz: 240, too small
    const uint8_t l2at32[4] = {0xFF, 0xFD, 0x58, 0x00};    // 80 kbit/s, 32 kHz: 360, too small
    const uint8_t l2_384[4] = {0xFF, 0xFD, 0xA8, 0x00};    // 192 kbit/s, 32 kHz: 864 = 27 * 32
    const uint8_t l2big[4] = {0xFF, 0xFD, 0xE8, 0x00};     // 384 kbit/s, 32 kHz: 1728, too large
    const uint8_t l3odd[4] = {0xFF, 0xFB, 0x90, 0x00};     // 417 at 44.1 kHz: not a multiple of 32
    const uint8_t l2pad[4] = {0xFF, 0xFD, 0xA6, 0x00};     // 577 with padding
    const uint8_t notMpeg1[4] = {0xFF, 0xF5, 0xA4, 0x00};  // ID 0 (second byte below 0xFA)
    EXPECT_TRUE(plausibleMpegAudioSync(ok576));
    EXPECT_FALSE(plausibleMpegAudioSync(l2small));
    EXPECT_FALSE(plausibleMpegAudioSync(l2at32));
    EXPECT_TRUE(plausibleMpegAudioSync(l2_384));
    EXPECT_FALSE(plausibleMpegAudioSync(l2big));
    EXPECT_FALSE(plausibleMpegAudioSync(l3odd));
    EXPECT_FALSE(plausibleMpegAudioSync(l2pad));
    EXPECT_FALSE(plausibleMpegAudioSync(notMpeg1));

    // In a PES, a false sync before the real header is passed over.
    const Bytes pes = pesHeader(0xC0, 9000) + Bytes{0xFF, 0xFD, 0xA6, 0x00, 0x11} + Bytes(ok576, ok576 + 4);
    bool complete = false;
    const FileInfoScan scan = examineAll(pes, FileInfoPass::Audio, 0x03, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(scan.record.frameLength, 576);
    EXPECT_EQ(scan.record.channelText, "Single channel (Mono)");
    EXPECT_EQ(scan.record.audioPtsText, "00:00:00:100");
}

TEST(FileInfo, AdtsIsFoundWithEitherIdentifier) {
    struct Case {
        uint8_t layerByte;
        const char* format;
    };
    for (const Case c :
         {Case{0xF1, "MPEG4 AAC"}, Case{0xF0, "MPEG4 AAC"}, Case{0xF9, "MPEG2 AAC"}, Case{0xF8, "MPEG2 AAC"}}) {
        SCOPED_TRACE(c.format);
        const Bytes pes = pesHeader(0xC0, 90000) + adtsHeader(c.layerByte, 384, 0x123);
        bool complete = false;
        const FileInfoScan scan = examineAll(pes, FileInfoPass::Audio, 0x0F, &complete);
        EXPECT_TRUE(complete);
        EXPECT_EQ(scan.record.audioCount, 2);
        const std::string text = fileInfoText(scan.record);
        EXPECT_EQ(lineOf(text, "    Format"), std::string("    Format        = ") + c.format + " LC");
        EXPECT_EQ(lineOf(text, "    Sampling rate"), "    Sampling rate = 48000 Hz");
        EXPECT_EQ(lineOf(text, "    Channel"), "    Channel       = 2 ch");
        // 8 * (384 * 48000 / 1024 + 0.5) truncated = 8 * 18000.
        EXPECT_EQ(lineOf(text, "    Bitrate"), "    Bitrate       = 144000");
        EXPECT_EQ(lineOf(text, "    Frame Length"), "    Frame Length  = 384 (8.00 ms)");
    }
    // Other layer bytes after 0xFF are no ADTS sync: nothing is decoded.
    for (uint8_t b : {0xF2, 0xFA, 0xE9}) {
        const Bytes pes = pesHeader(0xC0, 90000) + adtsHeader(b, 384, 0x123);
        const FileInfoScan scan = examineAll(pes, FileInfoPass::Audio, 0x0F);
        EXPECT_EQ(scan.record.audioFormat, "") << int(b);
        EXPECT_EQ(scan.record.audioCount, 1);
    }
    // AC-3 never decodes a header, even when ADTS-like bytes are there.
    const FileInfoScan ac3 = examineAll(pesHeader(0xC0, 0) + adtsHeader(0xF9, 384, 1), FileInfoPass::Audio, 0x81);
    EXPECT_EQ(ac3.record.audioFormat, "");
}

TEST(FileInfo, VariableRateShowsVbrAndDashes) {
    const Bytes pes = pesHeader(0xC0, 90000) + adtsHeader(0xF9, 300, 0x7FF);
    const FileInfoScan scan = examineAll(pes, FileInfoPass::Audio, 0x0F);
    EXPECT_EQ(scan.record.variableRate, 1);
    const std::string text = fileInfoText(scan.record);
    EXPECT_NE(text.find("    Bitrate       = VBR\r\n    Channel       = 2 ch\r\n    Frame Length  = --- (--- ms)\r\n"),
              std::string::npos)
        << text;
    // One below 0x7FF is a plain rate.
    const FileInfoScan cbr =
        examineAll(pesHeader(0xC0, 90000) + adtsHeader(0xF9, 300, 0x7FE), FileInfoPass::Audio, 0x0F);
    EXPECT_EQ(lineOf(fileInfoText(cbr.record), "    Frame Length"), "    Frame Length  = 300 (6.25 ms)");
}

TEST(FileInfo, AudioAheadOfVideoShowsTheEarlyLine) {
    FileInfoRecord r;
    r.videoPts = 8589934591LL - 1000;  // near the 33-bit wrap
    r.audioPts = r.videoPts - 45000;
    EXPECT_EQ(lineOf(fileInfoText(r), "    Audio early"), "    Audio early   = 00:00:00:500");
    EXPECT_EQ(fileInfoText(r).find("Audio delay"), std::string::npos);
    r.audioPts = r.videoPts + 90000 * 61 + 90 * 7;
    EXPECT_EQ(lineOf(fileInfoText(r), "    Audio delay"), "    Audio delay   = 00:01:01:007");
    r.audioPts = r.videoPts;
    EXPECT_EQ(lineOf(fileInfoText(r), "    Audio delay"), "    Audio delay   = 00:00:00:000");
}

TEST(FileInfo, SequenceHeaderAndExtensionDecode) {
    // 1440 x 1080, aspect 3, frame rate code 4, bit_rate_value 0x3FFFF - 1,
    // VBV 0x3FF - 1, then the extension (progressive 0, bit rate ext 1, vbv ext 2).
    const Bytes seq{0x00, 0x00, 0x01, 0xB3, 0x5A, 0x04, 0x38, 0x34, 0xFF, 0xFF, 0xBF, 0xF0};
    const Bytes ext{0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x03, 0x02, 0x80};
    const Bytes pes = pesHeader(0xE0, 180000);
    bool complete = false;
    const FileInfoScan scan = examineAll(pes + seq + ext, FileInfoPass::Video, 0x02, &complete);
    EXPECT_TRUE(complete);
    const FileInfoRecord& r = scan.record;
    EXPECT_EQ(r.videoCount, 3);
    EXPECT_EQ(r.bitRateExtension, 1);
    EXPECT_EQ(r.vbvBufferSizeExtension, 2);
    EXPECT_EQ(r.progressiveSequence, 0);
    const std::string text = fileInfoText(r);
    EXPECT_EQ(lineOf(text, "    Resolution"), "    Resolution    = 1440 x 1080");
    EXPECT_EQ(lineOf(text, "    Aspect ratio"), "    Aspect ratio  = 16 : 9");
    EXPECT_EQ(lineOf(text, "    Frame rate"), "    Frame rate    = 29.97");
    // The header came before the extension: its values are without them.
    EXPECT_EQ(lineOf(text, "    bitrate"), "    bitrate       = " + std::to_string(0x3FFFEu * 400u));
    EXPECT_EQ(lineOf(text, "    VBV Buffer"), "    VBV Buffer    = " + std::to_string(0x3FEu * 16384u));
    EXPECT_EQ(lineOf(text, "    Video PTS"), "    Video PTS     = 00:00:02:000");

    // A second sequence header takes the extension values known so far; a
    // second extension is not taken (two headers counted).
    FileInfoScan again;
    const Bytes twice = seq + ext + seq + Bytes{0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x07, 0x05, 0x80};
    for (size_t pos = 0; pos < twice.size(); ++pos)
        examineFileInfoPosition(again, FileInfoPass::Audio, 0x0F, twice.data(), twice.size(), pos);
    EXPECT_EQ(again.record.bitRate, (0x3FFFEu + (1u << 18)) * 400u);
    EXPECT_EQ(again.record.vbvBuffer, (0x3FEu + (2u << 10)) * 16384u);
    EXPECT_EQ(again.record.vbvBufferSizeExtension, 2);
    // Unknown codes give "?".
    FileInfoRecord odd;
    const Bytes oddSeq{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x59, 0xFF, 0xFF, 0xBF, 0xF0};
    decodeSequenceHeader(oddSeq.data(), odd);
    EXPECT_EQ(odd.aspectText, "?");
    EXPECT_EQ(odd.frameRateText, "?");
}

namespace {

// A recording of 188-byte packets: packet 0 starts a video PES (PID 0x100),
// every other packet carries more of it, the rest are null packets, and the
// sequence header and extension sit at the start of packet at.
std::string writeVideoRecording(const test::TempDir& dir, int packets, int at, int every = 2) {
    Bytes file;
    for (int i = 0; i < packets; ++i) {
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        if (i == 0 || i == at || i % every == 0) {
            p[1] = static_cast<uint8_t>((i == 0 ? 0x40 : 0) | 0x01);
            p[2] = 0x00;
            p[3] = static_cast<uint8_t>(0x10 | (i & 0x0F));
            Bytes payload = i == 0 ? pesHeader(0xE0, 90000) : Bytes{};
            if (i == at)
                payload = Bytes{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x24, 0x00, 0x01, 0x80, 0x00} +
                          Bytes{0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
            std::copy(payload.begin(), payload.end(), p.begin() + 4);
        } else {
            p[1] = 0x1F;
            p[2] = 0xFF;
            p[3] = 0x10;
        }
        file.insert(file.end(), p.begin(), p.end());
    }
    const std::string path =
        dir.path("v" + std::to_string(packets) + "_" + std::to_string(at) + "_" + std::to_string(every) + ".ts");
    test::writeBytes(path, file.data(), file.size());
    return path;
}

}  // namespace

TEST(FileInfo, BlocksAreExaminedUpToTheirLastPacketAndTheFinalBlockNotAtAll) {
    test::TempDir dir;
    // 150 packets: block 0 holds packets 1-100, block 1 (the last) 101-149.
    struct Case {
        int at;
        bool found;
    };
    for (const Case c : {Case{99, true}, Case{100, false}, Case{120, false}, Case{0 + 3, true}}) {
        SCOPED_TRACE(c.at);
        const std::string path = writeVideoRecording(dir, 150, c.at);
        RecordingHost host;
        FileInfoScan scan;
        ASSERT_TRUE(runFileInfoPass(path, host, scan, FileInfoPass::Video, 0x100, 0x02, 0));
        EXPECT_EQ(scan.record.videoPtsText, "00:00:01:000");
        EXPECT_EQ(scan.record.horizontalSize, c.found ? 720 : 0);
        EXPECT_EQ(scan.record.videoCount, c.found ? 3 : 1);
        EXPECT_TRUE(host.messages().empty());
    }
    // With 250 packets block 1 is no longer the last: packet 120 is seen.
    const std::string longer = writeVideoRecording(dir, 250, 120);
    RecordingHost host;
    FileInfoScan scan;
    ASSERT_TRUE(runFileInfoPass(longer, host, scan, FileInfoPass::Video, 0x100, 0x02, 0));
    EXPECT_EQ(scan.record.verticalSize, 480);
    EXPECT_EQ(scan.record.progressiveSequence, 1);
    // When a block's last packet is of another PID nothing is carried over,
    // and gathering waits for the next PES start: packet 120 is not gathered.
    const std::string gap = writeVideoRecording(dir, 250, 120, 3);
    FileInfoScan waited;
    ASSERT_TRUE(runFileInfoPass(gap, host, waited, FileInfoPass::Video, 0x100, 0x02, 0));
    EXPECT_EQ(waited.record.videoCount, 1);
    EXPECT_EQ(waited.record.verticalSize, 0);
}

TEST(FileInfo, MissingInputAndUnreadablePidListAreReported) {
    test::TempDir dir;
    RecordingHost host;
    FileInfoScan scan;
    EXPECT_FALSE(runFileInfoPass(dir.path("gone.ts"), host, scan, FileInfoPass::Video, 0x100, 2, 0));
    EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Input ファイルオープンエラー"});

    EditState state;
    state.inputPath = test::dataPath("random_bytes.bin");
    RecordingHost h2;
    EXPECT_FALSE(runFileInfo(state, h2, 0).has_value());
    const auto msgs = h2.messages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back(), "error: ＰＩＤ情報の取得に失敗しました");
    EXPECT_TRUE(state.fileInfoPidList.empty());
}

namespace {

using test::capture;

// One entry of one stream, as ffprobe prints it.
std::string probeValue(const std::string& path, const std::string& stream, const std::string& key) {
    std::string v = capture("ffprobe -v error -select_streams " + stream + " -show_entries stream=" + key +
                            " -of default=nw=1:nk=1 '" + path + "'");
    // The stream is listed under its program too: the first line is enough.
    return v.substr(0, v.find('\n'));
}

int64_t firstPts(const std::string& path, const std::string& stream) {
    const std::string v = capture("ffprobe -v error -select_streams " + stream +
                                  " -show_entries packet=pts -read_intervals %+#1 -of csv=p=0 '" + path + "'");
    EXPECT_FALSE(v.empty()) << stream;
    return std::atoll(v.c_str());
}

void checkAgainstFfprobe(const std::string& name) {
    TAVREL_REQUIRE_TOOL("ffprobe");
    const std::string path = test::dataPath(name);
    EditState state;
    state.inputPath = path;
    RecordingHost host;
    FileInfoRecord rec;
    const auto text = runFileInfo(state, host, 0, &rec);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(host.messages().empty());
    EXPECT_TRUE(state.fileInfoPidList.empty());

    EXPECT_EQ(lineOf(*text, "    Resolution"),
              "    Resolution    = " + probeValue(path, "v:0", "width") + " x " + probeValue(path, "v:0", "height"));
    std::string dar = probeValue(path, "v:0", "display_aspect_ratio");
    dar.replace(dar.find(':'), 1, " : ");
    EXPECT_EQ(lineOf(*text, "    Aspect ratio"), "    Aspect ratio  = " + dar);
    const std::string rate = probeValue(path, "v:0", "r_frame_rate");
    const double fps = std::atof(rate.c_str()) / std::atof(rate.c_str() + rate.find('/') + 1);
    EXPECT_NEAR(std::atof(rec.frameRateText.c_str()), fps, 0.001) << rec.frameRateText;

    const int64_t vpts = firstPts(path, "v:0");
    const int64_t apts = firstPts(path, "a:0");
    EXPECT_EQ(lineOf(*text, "    Video PTS"), "    Video PTS     = " + time90kText(vpts));
    EXPECT_EQ(lineOf(*text, "    Audio PTS"), "    Audio PTS     = " + time90kText(apts));
    if (apts >= vpts)
        EXPECT_EQ(lineOf(*text, "    Audio delay"), "    Audio delay   = " + time90kText(apts - vpts));
    else
        EXPECT_EQ(lineOf(*text, "    Audio early"), "    Audio early   = " + time90kText(vpts - apts));

    EXPECT_EQ(lineOf(*text, "    Sampling rate"),
              "    Sampling rate = " + probeValue(path, "a:0", "sample_rate") + " Hz");
    const int channels = std::atoi(probeValue(path, "a:0", "channels").c_str());
    const std::string codec = probeValue(path, "a:0", "codec_name");
    if (codec == "aac") {
        EXPECT_EQ(rec.channelText, std::to_string(channels) + " ch");
        EXPECT_EQ(rec.audioLayer, probeValue(path, "a:0", "profile"));
        EXPECT_EQ(rec.audioFormat.substr(rec.audioFormat.size() - 4), " AAC");
    } else {
        ASSERT_EQ(codec, "mp2");
        EXPECT_EQ(rec.audioFormat, "MPEG1");
        EXPECT_EQ(rec.audioLayer, "Layer-2");
        EXPECT_EQ(channels == 1, rec.channelText == "Single channel (Mono)") << rec.channelText;
        EXPECT_EQ(
            lineOf(*text, "    Bitrate"),
            "    Bitrate       = " + std::to_string(std::atoi(probeValue(path, "a:0", "bit_rate").c_str()) / 1000));
        const double khz = std::atoi(probeValue(path, "a:0", "sample_rate").c_str()) / 1000.0;
        EXPECT_EQ(rec.frameLength, static_cast<int>(144 * rec.audioBitRate / khz));
    }
    // The dialog's pieces in order, nothing else.
    size_t at = 0;
    for (const char* piece :
         {"\r\n < Video >\r\n", "    Resolution", "    Aspect ratio", "    Frame rate",
          "    bitrate       = ", "    VBV Buffer", "    Video PTS", "\r\n < Audio >\r\n", "    Format",
          "    Sampling rate", "    Bitrate", "    Channel", "    Frame Length", "    Audio PTS", "\r\n    Audio "}) {
        const size_t next = text->find(piece, at);
        ASSERT_NE(next, std::string::npos) << piece;
        at = next;
    }
}

}  // namespace

TEST(FileInfo, Sd480pMp2MatchesFfprobe) { checkAgainstFfprobe("sd_480p_mp2.ts"); }
TEST(FileInfo, Hd1080iAacMatchesFfprobe) { checkAgainstFfprobe("hd_1080i_aac.ts"); }

TEST(FileInfo, Ac3AudioDecodesNoHeader) {
    TAVREL_REQUIRE_TOOL("ffmpeg");
    test::TempDir dir;
    const std::string path = dir.path("ac3.ts");
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=r=48000 "
                           "-t 2 -c:v mpeg2video -c:a ac3 -f mpegts '" +
                           path + "'")
                              .c_str()),
              0);
    EditState state;
    state.inputPath = path;
    RecordingHost host;
    FileInfoRecord rec;
    const auto text = runFileInfo(state, host, 0, &rec);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(lineOf(*text, "    Resolution"), "    Resolution    = 352 x 288");
    EXPECT_EQ(lineOf(*text, "    Frame rate"), "    Frame rate    = 25");
    EXPECT_EQ(lineOf(*text, "    Format"), "    Format        =  ");
    EXPECT_EQ(lineOf(*text, "    Sampling rate"), "    Sampling rate = 0 Hz");
    EXPECT_EQ(rec.audioCount, 0);
}
