// The audio signal of the break detector: the first audio stream of the test
// recordings, their levels and durations, and silences found at their time in
// recordings made here with ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio_levels.h"
#include "test_util.h"

using namespace tavrel;
using namespace tavrel::detect;

namespace {

constexpr int64_t kWrap = int64_t{1} << 33;

AudioAnalysis analyse(const std::string& path, int32_t packetSize, const AudioStream& stream, int64_t origin = -1) {
    AudioAnalysis out;
    analyseAudio(path, geometryForSize(packetSize), stream, origin, AudioOptions{}, nullptr, out);
    return out;
}

// ffmpeg's sine source plays at 1/8 of full scale: its mean square is
// 1/128, -21.07 dB.
constexpr double kSineDb = -21.07;

TEST(AudioLevels, EachRecordingsStreamDecodesWhole) {
    struct Case {
        const char* file;
        int32_t packet;
        const char* codec;
        int streamType;
        double duration;  // what the encoder made of the sine's length
    };
    const Case cases[] = {
        {"sd_480p_mp2.ts", 188, "mp2float", 0x03, 3.0},  // 125 frames of 1152 samples
        {"sd_480p_204.ts", 204, "mp2float", 0x03, 3.0},
        {"sd_480p_208.ts", 208, "mp2float", 0x03, 3.0},
        {"no_video.ts", 188, "mp2float", 0x03, 84 * 0.024},  // 2 s rounded up to whole frames
        {"hd_1080i_aac.ts", 188, "aac", 0x0F, 2.5},
        {"hd_1080i_aac_192.ts", 192, "aac", 0x06, 2.5},    // ADTS declared as private data
        {"sd_480i_ac3.ts", 188, "ac3", 0x81, 95 * 0.032},  // 94 frames of 1536 and the encoder's delay
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = test::dataPath(c.file);
        AudioStream stream;
        ASSERT_TRUE(findFirstAudioStream(path, geometryForSize(c.packet), stream));
        EXPECT_EQ(stream.codecName, c.codec);
        EXPECT_EQ(stream.streamType, c.streamType);
        const AudioAnalysis a = analyse(path, c.packet, stream);
        ASSERT_EQ(a.status, AudioStatus::Ok) << a.detail;
        EXPECT_NEAR(a.duration, c.duration, 0.05);
        EXPECT_NEAR(a.levelDb.size() * 0.01, a.duration, 0.05);
        // A steady tone all through: its level, and no silence.
        const size_t mid = a.levelDb.size() / 2;
        EXPECT_NEAR(a.levelDb[mid], kSineDb, 1.0);
        EXPECT_TRUE(a.silences.empty()) << a.silences[0].start;
    }
}

TEST(AudioLevels, PacketFramingsGiveTheSameLevels) {
    AudioStream stream;
    ASSERT_TRUE(findFirstAudioStream(test::dataPath("sd_480p_mp2.ts"), geometryForSize(188), stream));
    const AudioAnalysis plain = analyse(test::dataPath("sd_480p_mp2.ts"), 188, stream);
    ASSERT_EQ(plain.status, AudioStatus::Ok);
    for (auto [file, size] :
         {std::pair{"sd_480p_204.ts", 204}, {"sd_480p_208.ts", 208}, {"starts_mid_packet.ts", 188}}) {
        SCOPED_TRACE(file);
        const AudioAnalysis a = analyse(test::dataPath(file), size, stream);
        ASSERT_EQ(a.status, AudioStatus::Ok);
        EXPECT_EQ(a.start, plain.start);
        EXPECT_EQ(a.levelDb, plain.levelDb);
    }
    // The same bytes from memory.
    const std::vector<uint8_t> bytes = test::readBytes(test::dataPath("sd_480p_mp2.ts"));
    AudioAnalysis mem;
    analyseAudioBuffer(bytes.data(), bytes.size(), geometryForSize(188), stream, -1, AudioOptions{}, mem);
    EXPECT_EQ(mem.levelDb, plain.levelDb);
}

TEST(AudioLevels, DamagedPacketsLoseOnlyTheirFrames) {
    AudioStream stream;
    const std::string path = test::dataPath("sd_480p_mp2.ts");
    ASSERT_TRUE(findFirstAudioStream(path, geometryForSize(188), stream));
    std::vector<uint8_t> bytes = test::readBytes(path);
    // Garbage over 40 KiB in the middle, sync bytes and headers included.
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40960; ++i) bytes[i] = static_cast<uint8_t>(i * 97 + 13);
    AudioAnalysis a;
    analyseAudioBuffer(bytes.data(), bytes.size(), geometryForSize(188), stream, -1, AudioOptions{}, a);
    ASSERT_EQ(a.status, AudioStatus::Ok);
    EXPECT_GT(a.duration, 2.5);
    EXPECT_LT(a.duration, 3.0);
    EXPECT_NEAR(a.levelDb.back(), kSineDb, 1.0);
}

TEST(AudioLevels, NoAudioUnknownCodecAndUnreadableFile) {
    AudioStream stream;
    EXPECT_FALSE(findFirstAudioStream(test::dataPath("two_video_pids.ts"), geometryForSize(188), stream));
    EXPECT_EQ(stream.pid, -1);
    EXPECT_EQ(analyse(test::dataPath("two_video_pids.ts"), 188, stream).status, AudioStatus::NoAudio);
    EXPECT_FALSE(findFirstAudioStream(test::dataPath("random_bytes.bin"), geometryForSize(188), stream));
    EXPECT_FALSE(findFirstAudioStream(test::dataPath("empty.ts"), geometryForSize(188), stream));

    AudioStream unknown{0x101, 0x06, ""};
    const AudioAnalysis u = analyse(test::dataPath("sd_480p_mp2.ts"), 188, unknown);
    EXPECT_EQ(u.status, AudioStatus::CodecUnsupported);
    EXPECT_EQ(u.detail, "no decoder for stream type 0x06");

    const AudioAnalysis missing = analyse(test::dataPath("no_such_file.ts"), 188, AudioStream{0x101, 0x03, "mp2"});
    EXPECT_EQ(missing.status, AudioStatus::ReadError);
    EXPECT_EQ(missing.detail, "No such file or directory");

    // The MP2 stream read as AC-3: packets, but no frame.
    ASSERT_TRUE(findFirstAudioStream(test::dataPath("sd_480p_mp2.ts"), geometryForSize(188), stream));
    stream.codecName = "ac3";
    EXPECT_EQ(analyse(test::dataPath("sd_480p_mp2.ts"), 188, stream).status, AudioStatus::NothingDecoded);
}

TEST(AudioLevels, ProgressCancels) {
    AudioStream stream;
    const std::string path = test::dataPath("sd_480p_mp2.ts");
    ASSERT_TRUE(findFirstAudioStream(path, geometryForSize(188), stream));
    int64_t seen = 0, total = 0;
    AudioAnalysis a;
    analyseAudio(
        path, geometryForSize(188), stream, -1, AudioOptions{},
        [&](int64_t done, int64_t all) {
            seen = done;
            total = all;
            return false;
        },
        a);
    EXPECT_EQ(a.status, AudioStatus::Cancelled);
    EXPECT_EQ(seen, total);  // the whole 1 MiB file is one read
    EXPECT_EQ(total, 1120668);
}

TEST(AudioLevels, SilenceRules) {
    AudioOptions o;  // -50 dB, 0.1 s, 0.01 s windows
    std::vector<float> levels;
    auto add = [&](size_t n, float db) { levels.insert(levels.end(), n, db); };
    add(5, -20);
    add(9, -60);  // 0.09 s: too short
    add(5, -20);
    add(10, -120);  // 0.1 s: a silence
    add(3, -20);
    add(12, -50);  // at the threshold: not quiet
    add(2, -20);
    add(20, -51);  // runs to the end
    const std::vector<Silence> s = findSilences(levels, 10.0, o);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(s[0].start, 10.19, 1e-9);
    EXPECT_NEAR(s[0].end, 10.29, 1e-9);
    EXPECT_NEAR(s[1].start, 10.46, 1e-9);
    EXPECT_NEAR(s[1].end, 10.66, 1e-9);
    o.minSilence = 0.2;
    ASSERT_EQ(findSilences(levels, 0, o).size(), 1u);
    EXPECT_TRUE(findSilences({}, 0, o).empty());
}

// Recordings made here: video from t = 0, and a tone broken by a silence
// from 2.0 to 2.5 s. The origin is the video's first PTS, as the detector
// gives it.
struct Made {
    std::string path;
    int64_t origin = -1;
};

Made makeRecording(const test::TempDir& dir, const std::string& name, const std::string& audioArgs,
                   const std::string& extra = "") {
    Made m;
    m.path = dir.path(name);
    const std::string cmd =
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=4.5 "
        "-f lavfi -i \"aevalsrc='if(between(t,2,2.5),0,0.4*sin(2*PI*440*t))|if(between(t,2,2.5),0,0.3*sin(2*PI*660*t))'"
        ":s=48000:d=4.5\" -map 0:v " +
        audioArgs + " -c:v mpeg2video -bf 0 -g 25 " + extra + " -f mpegts '" + m.path + "'";
    if (std::system(cmd.c_str()) != 0) return m;
    const std::string start = test::capture(
        "ffprobe -v error -select_streams v:0 -show_entries stream=start_time "
        "-of csv=p=0 '" +
        m.path + "'");
    if (!start.empty()) m.origin = ((std::llround(std::stod(start) * 90000) % kWrap) + kWrap) % kWrap;
    return m;
}

TEST(AudioLevels, SilenceBetweenTonesAtItsTime) {
    TAVREL_REQUIRE_TOOL("ffmpeg");
    TAVREL_REQUIRE_TOOL("ffprobe");
    test::TempDir dir;
    struct Case {
        const char* name;
        const char* audio;
        const char* extra;
        const char* codec;
    };
    // The MP2 one starts just before the 33-bit wrap of the time stamps,
    // which falls one second in.
    const Case cases[] = {
        {"mp2.ts", "-map 1:a -c:a mp2 -b:a 192k", "-output_ts_offset 95441.317", "mp2float"},
        {"aac.ts", "-map 1:a -c:a aac -b:a 128k", "", "aac"},
        {"ac3.ts", "-map 1:a -c:a ac3 -b:a 192k", "", "ac3"},
        {"eac3.ts", "-map 1:a -c:a eac3 -b:a 192k", "", "eac3"},
        {"latm.ts", "-map 1:a -c:a aac -b:a 128k", "-mpegts_flags latm", "aac_latm"},
        {"mp3.ts", "-map 1:a -c:a libmp3lame -b:a 192k", "", "mp3float"},  // layer III
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Made m = makeRecording(dir, c.name, c.audio, c.extra);
        ASSERT_GE(m.origin, 0);
        AudioStream stream;
        ASSERT_TRUE(findFirstAudioStream(m.path, geometryForSize(188), stream));
        EXPECT_EQ(stream.codecName, c.codec);
        const AudioAnalysis a = analyse(m.path, 188, stream, m.origin);
        ASSERT_EQ(a.status, AudioStatus::Ok) << a.detail;
        EXPECT_NEAR(a.start, 0, 0.05);
        EXPECT_NEAR(a.duration, 4.5, 0.05);
        ASSERT_EQ(a.silences.size(), 1u);
        EXPECT_NEAR(a.silences[0].start, 2.0, 0.02);
        EXPECT_NEAR(a.silences[0].end, 2.5, 0.02);
        // An origin 1.5 s on (for MP2 past the wrap, the audio's first PTS
        // before it).
        const AudioAnalysis later = analyse(m.path, 188, stream, (m.origin + 135000) % kWrap);
        ASSERT_EQ(later.silences.size(), 1u);
        EXPECT_NEAR(later.silences[0].start, 0.5, 0.02);
    }
}

TEST(AudioLevels, PrivateStreamsOnlyWhenTheyCarryAc3) {
    TAVREL_REQUIRE_TOOL("ffmpeg");
    TAVREL_REQUIRE_TOOL("ffprobe");
    test::TempDir dir;
    // DVB muxing: Opus and AC-3 both go out as stream type 0x06, Opus first.
    const Made both = makeRecording(dir, "opus_ac3.ts", "-map 1:a -map 1:a -c:a:0 opus -strict -2 -c:a:1 ac3",
                                    "-mpegts_flags system_b");
    AudioStream stream;
    ASSERT_TRUE(findFirstAudioStream(both.path, geometryForSize(188), stream));
    EXPECT_EQ(stream.streamType, 0x06);
    EXPECT_EQ(stream.codecName, "ac3");
    EXPECT_EQ(stream.pid, 0x102);  // the second audio PID
    const AudioAnalysis a = analyse(both.path, 188, stream, both.origin);
    ASSERT_EQ(a.status, AudioStatus::Ok);
    ASSERT_EQ(a.silences.size(), 1u);
    EXPECT_NEAR(a.silences[0].start, 2.0, 0.02);
}

}  // namespace
