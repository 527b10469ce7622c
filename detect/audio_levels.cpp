// The audio signal of the break detector.
//
// One sequential pass over the recording in 4 MiB reads picks the packets of
// the audio PID out of the packet grid, gathers each PES (a payload unit
// start begins one; packets with the transport error flag and repeated
// packets are left out) and hands the gathered payload with its PTS to
// libavcodec's parser, which cuts it into frames for the decoder. A frame
// that does not decode is skipped; broadcast recordings have damaged ones.
//
// Each decoded frame is placed on the time line at its PTS when the parser
// gives it one, else right after the frame before it. Its samples, whatever
// their format, add their squares (all channels, full scale = 1) to the level
// windows they fall into; a window's level is 10*log10 of the mean square.
#include "audio_levels.h"

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "file.h"
#include "program_tables.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
}

namespace tavrel::detect {
namespace {

constexpr int64_t kPtsWrap = int64_t{1} << 33;
constexpr double kPtsRate = 90000.0;
constexpr float kFloorDb = -120.0f;
constexpr float kCeilingDb = 200.0f;
constexpr size_t kReadChunk = size_t{4} << 20;
constexpr size_t kProbeBytes = size_t{4} << 20;
constexpr size_t kMaxPes = size_t{1} << 20;  // a longer PES is handed on in parts
constexpr double kMaxForwardJump = 120.0;    // seconds; more is a clock discontinuity
constexpr double kMaxBackwardJump = 1.0;
constexpr double kMaxTimeline = 30 * 3600.0;  // seconds of windows kept at most
constexpr int kPhaseChecks = 5;
constexpr size_t kTsPacket = 188;

void quietLibav() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string avErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

bool usableGeometry(const PacketGeometry& g) {
    return g.size >= static_cast<int32_t>(kTsPacket) && g.size <= 1024 && g.syncOffset >= 0 &&
           static_cast<size_t>(g.syncOffset) + kTsPacket <= static_cast<size_t>(g.size);
}

// The offset (below one packet) from which sync bytes line up packet after
// packet: 0 for a file that starts on a packet, the length of the cut piece
// for one that starts inside a packet. 0 when nothing lines up.
size_t findPhase(const uint8_t* data, size_t size, const PacketGeometry& g) {
    const size_t unit = static_cast<size_t>(g.size);
    for (size_t phase = 0; phase < unit; ++phase) {
        int seen = 0;
        bool ok = true;
        for (int k = 0; k < kPhaseChecks && ok; ++k) {
            const size_t at = phase + k * unit + static_cast<size_t>(g.syncOffset);
            if (at >= size) break;
            ok = data[at] == 0x47;
            seen += ok;
        }
        if (ok && seen > 0) return phase;
    }
    return 0;
}

// The payload of the packet at p (188 bytes from its sync byte).
bool packetPayload(const uint8_t* p, const uint8_t*& payload, size_t& len) {
    const int afc = packetAfc(p);
    if (!(afc & 1)) return false;
    size_t off = 4;
    if (afc == 3) off += 1 + size_t{p[4]};
    if (off >= kTsPacket) return false;
    payload = p + off;
    len = kTsPacket - off;
    return true;
}

// The PES header at the start of a payload: where its data begins, and its
// raw PTS (-1 when it has none). False when no PES with an optional header
// begins there, or the header runs past the packet.
bool parsePesHeader(const uint8_t* q, size_t len, size_t& dataAt, int64_t& pts) {
    if (len < 9 || q[0] != 0 || q[1] != 0 || q[2] != 1) return false;
    const uint8_t id = q[3];
    if (id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xF2 || id == 0xF8 || id == 0xFF)
        return false;
    if ((q[6] & 0xC0) != 0x80) return false;
    const size_t header = 9 + size_t{q[8]};
    if (header > len) return false;
    pts = -1;
    if ((q[7] & 0x80) && q[8] >= 5)
        pts = (int64_t{q[9] & 0x0E} << 29) | (int64_t{q[10]} << 22) | (int64_t{q[11] & 0xFE} << 14) |
              (int64_t{q[12]} << 7) | (q[13] >> 1);
    dataAt = header;
    return true;
}

// ---------------------------------------------------------------- levels

// Raw sums of squares over n values in the type's own scale.
double squaresU8(const uint8_t* s, size_t n) {
    int64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int v = s[i] - 128;
        sum += v * v;
    }
    return static_cast<double>(sum) / (128.0 * 128.0);
}

double squaresS16(const int16_t* s, size_t n) {
    int64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += int32_t{s[i]} * s[i];
    return static_cast<double>(sum) / (32768.0 * 32768.0);
}

double squaresS32(const int32_t* s, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = s[i];
        sum += v * v;
    }
    return sum / (2147483648.0 * 2147483648.0);
}

double squaresS64(const int64_t* s, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = static_cast<double>(s[i]) / 9223372036854775808.0;
        sum += v * v;
    }
    return sum;
}

// Eight running sums, so the compiler can keep them in one vector register.
double squaresFlt(const float* s, size_t n) {
    float acc[8] = {};
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int j = 0; j < 8; ++j) acc[j] += s[i + j] * s[i + j];
    double sum = 0;
    for (float a : acc) sum += a;
    for (; i < n; ++i) sum += double{s[i]} * s[i];
    return sum;
}

double squaresDbl(const double* s, size_t n) {
    double acc[4] = {};
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (int j = 0; j < 4; ++j) acc[j] += s[i + j] * s[i + j];
    double sum = acc[0] + acc[1] + acc[2] + acc[3];
    for (; i < n; ++i) sum += s[i] * s[i];
    return sum;
}

double squares(AVSampleFormat packed, const uint8_t* data, size_t n) {
    switch (packed) {
    case AV_SAMPLE_FMT_U8: return squaresU8(data, n);
    case AV_SAMPLE_FMT_S16: return squaresS16(reinterpret_cast<const int16_t*>(data), n);
    case AV_SAMPLE_FMT_S32: return squaresS32(reinterpret_cast<const int32_t*>(data), n);
    case AV_SAMPLE_FMT_S64: return squaresS64(reinterpret_cast<const int64_t*>(data), n);
    case AV_SAMPLE_FMT_FLT: return squaresFlt(reinterpret_cast<const float*>(data), n);
    case AV_SAMPLE_FMT_DBL: return squaresDbl(reinterpret_cast<const double*>(data), n);
    default: return 0;
    }
}

// Sum of squares of samples [from, to) of every channel of a frame.
double frameSquares(const AVFrame* f, int channels, size_t from, size_t to) {
    const auto format = static_cast<AVSampleFormat>(f->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    const size_t bytes = static_cast<size_t>(av_get_bytes_per_sample(packed));
    const size_t ch = static_cast<size_t>(channels);
    if (!av_sample_fmt_is_planar(format))
        return squares(packed, f->extended_data[0] + from * ch * bytes, (to - from) * ch);
    double sum = 0;
    for (size_t c = 0; c < ch; ++c) sum += squares(packed, f->extended_data[c] + from * bytes, to - from);
    return sum;
}

struct Levels {
    double window = 0.01;
    size_t maxWindows = 0;
    bool started = false;
    double start = 0;
    std::vector<double> sum;
    std::vector<uint32_t> count;
};

// Adds a frame beginning at time t to the windows its samples fall into.
void addFrame(Levels& lv, const AVFrame* f, double t) {
    const int channels = f->ch_layout.nb_channels;
    const int64_t n = f->nb_samples;
    if (f->sample_rate <= 0 || n <= 0 || channels <= 0 || !f->extended_data) return;
    if (!lv.started) {
        lv.start = std::floor(t / lv.window) * lv.window;
        lv.started = true;
    }
    const double perWindow = f->sample_rate * lv.window;  // samples per window
    const double pos = (t - lv.start) / lv.window;        // the frame's start, in windows
    int64_t i = 0;
    while (i < n) {
        const double k = std::floor(pos + static_cast<double>(i) / perWindow);
        if (k >= static_cast<double>(lv.maxWindows)) break;
        int64_t end = static_cast<int64_t>(std::ceil((k + 1 - pos) * perWindow));
        if (end <= i) end = i + 1;
        if (end > n) end = n;
        if (k >= 0) {
            const auto w = static_cast<size_t>(k);
            if (w >= lv.sum.size()) {
                lv.sum.resize(w + 1, 0.0);
                lv.count.resize(w + 1, 0);
            }
            lv.sum[w] += frameSquares(f, channels, static_cast<size_t>(i), static_cast<size_t>(end));
            lv.count[w] += static_cast<uint32_t>((end - i) * channels);
        }
        i = end;
    }
}

float levelDb(double sum, uint32_t count) {
    if (count == 0) return kFloorDb;
    const double db = 10.0 * std::log10(sum / count);
    if (!(db >= kFloorDb)) return kFloorDb;  // digital silence, and NaN from a broken frame
    return db > kCeilingDb ? kCeilingDb : static_cast<float>(db);
}

// ---------------------------------------------------------------- decoding

struct Analyser {
    int pid = -1;
    AVCodecContext* codec = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;

    // PES gathering.
    std::vector<uint8_t> pes;
    bool inPes = false;
    int64_t pesPts = AV_NOPTS_VALUE;  // unwrapped, 90 kHz
    int lastCc = -1;

    // Time line.
    int64_t origin = -1;
    bool havePts = false;
    int64_t lastPts = 0;
    double offset = 0;  // seconds added at clock discontinuities
    bool haveNext = false;
    double next = 0;  // where a frame without PTS begins

    Levels levels;
    int64_t frames = 0;
    double duration = 0;

    Analyser() = default;
    Analyser(const Analyser&) = delete;
    Analyser& operator=(const Analyser&) = delete;
    ~Analyser() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        if (parser) av_parser_close(parser);
        avcodec_free_context(&codec);
    }
};

// Sets up the decoder named by the stream; out.status tells when it cannot.
bool openAnalyser(Analyser& a, const AudioStream& stream, int64_t originPts, const AudioOptions& options,
                  AudioAnalysis& out) {
    quietLibav();
    a.pid = stream.pid;
    a.origin = originPts >= 0 ? originPts & (kPtsWrap - 1) : -1;
    a.levels.window = std::clamp(options.windowSeconds, 0.001, 10.0);
    a.levels.maxWindows = static_cast<size_t>(kMaxTimeline / a.levels.window);
    const AVCodec* decoder =
        stream.codecName.empty() ? nullptr : avcodec_find_decoder_by_name(stream.codecName.c_str());
    if (!decoder) {
        char text[96];
        std::snprintf(text, sizeof text, "no decoder for stream type 0x%02X", stream.streamType & 0xFF);
        out.status = AudioStatus::CodecUnsupported;
        out.detail = stream.codecName.empty() ? text : "no decoder " + stream.codecName;
        return false;
    }
    a.codec = avcodec_alloc_context3(decoder);
    a.packet = av_packet_alloc();
    a.frame = av_frame_alloc();
    if (!a.codec || !a.packet || !a.frame) {
        out.status = AudioStatus::CodecUnsupported;
        out.detail = avErrorText(AVERROR(ENOMEM));
        return false;
    }
    a.codec->pkt_timebase = AVRational{1, 90000};
    AVDictionary* opts = nullptr;
    // AC-3: levels as broadcast, not squeezed by its dynamic range control;
    // and 5.1 mixed down to stereo inside the decoder, before its inverse
    // transforms, which saves a fifth of the decoding time. A silence is silent in
    // the mix as in every channel.
    if (decoder->id == AV_CODEC_ID_AC3 || decoder->id == AV_CODEC_ID_EAC3) {
        av_dict_set(&opts, "drc_scale", "0", 0);
        av_dict_set(&opts, "downmix", "stereo", 0);
    }
    const int err = avcodec_open2(a.codec, decoder, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        out.status = AudioStatus::CodecUnsupported;
        out.detail = avErrorText(err);
        return false;
    }
    a.parser = av_parser_init(decoder->id);
    a.pes.reserve(size_t{64} << 10);
    return true;
}

void onFrame(Analyser& a, const AVFrame* f) {
    if (f->sample_rate <= 0 || f->nb_samples <= 0) return;
    double t = a.haveNext ? a.next : 0;
    if (f->pts != AV_NOPTS_VALUE) {
        double at = static_cast<double>(f->pts - a.origin) / kPtsRate + a.offset;
        if (a.haveNext && (at - a.next > kMaxForwardJump || a.next - at > kMaxBackwardJump)) {
            a.offset += a.next - at;
            at = a.next;
        }
        t = at;
    }
    addFrame(a.levels, f, t);
    const double length = static_cast<double>(f->nb_samples) / f->sample_rate;
    a.next = t + length;
    a.haveNext = true;
    a.duration += length;
    ++a.frames;
}

void receiveFrames(Analyser& a) {
    while (avcodec_receive_frame(a.codec, a.frame) >= 0) {
        onFrame(a, a.frame);
        av_frame_unref(a.frame);
    }
}

// One frame's bytes (or nullptr: the end) to the decoder; its errors only
// lose that frame.
void decodePacket(Analyser& a, const uint8_t* data, int size, int64_t pts) {
    int err;
    if (data) {
        a.packet->data = const_cast<uint8_t*>(data);
        a.packet->size = size;
        a.packet->pts = pts;
        err = avcodec_send_packet(a.codec, a.packet);
        if (err == AVERROR(EAGAIN)) {
            receiveFrames(a);
            err = avcodec_send_packet(a.codec, a.packet);
        }
        a.packet->data = nullptr;
        a.packet->size = 0;
    } else {
        err = avcodec_send_packet(a.codec, nullptr);
    }
    (void)err;
    receiveFrames(a);
}

// Feeds data (nullptr, 0: the end) through the parser to the decoder.
void parseAndDecode(Analyser& a, const uint8_t* data, size_t size, int64_t pts) {
    if (!a.parser) {
        if (data && size > 0 && size <= INT32_MAX) decodePacket(a, data, static_cast<int>(size), pts);
        return;
    }
    for (;;) {
        uint8_t* frameData = nullptr;
        int frameSize = 0;
        const int chunk = static_cast<int>(std::min<size_t>(size, INT32_MAX / 2));
        const int used =
            av_parser_parse2(a.parser, a.codec, &frameData, &frameSize, data, chunk, pts, AV_NOPTS_VALUE, 0);
        pts = AV_NOPTS_VALUE;
        if (used > 0) {
            data += used;
            size -= static_cast<size_t>(used);
        }
        if (frameSize > 0) decodePacket(a, frameData, frameSize, a.parser->pts);
        if (size == 0 && (data || frameSize == 0)) break;
        if (used <= 0 && frameSize == 0) break;
    }
}

void flushPes(Analyser& a) {
    if (!a.pes.empty()) {
        const size_t n = a.pes.size();
        // Zeroed padding behind the data for libavcodec's bit readers.
        a.pes.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        parseAndDecode(a, a.pes.data(), n, a.pesPts);
    }
    a.pes.clear();
    a.pesPts = AV_NOPTS_VALUE;
}

// One transport packet (188 bytes from its sync byte).
void onPacket(Analyser& a, const uint8_t* p) {
    if (p[0] != 0x47 || packetPid(p) != a.pid || (p[1] & 0x80)) return;
    const uint8_t* payload = nullptr;
    size_t len = 0;
    if (!packetPayload(p, payload, len)) return;
    const int cc = p[3] & 0x0F;
    if (packetPusi(p)) {
        flushPes(a);
        size_t at = 0;
        int64_t raw = -1;
        a.inPes = parsePesHeader(payload, len, at, raw);
        a.lastCc = cc;
        if (!a.inPes) return;
        if (raw >= 0) {
            if (a.origin < 0) a.origin = raw;
            a.lastPts = unwrapPts(raw, a.havePts ? a.lastPts : a.origin);
            a.havePts = true;
            a.pesPts = a.lastPts;
        }
        a.pes.insert(a.pes.end(), payload + at, payload + len);
        return;
    }
    if (!a.inPes || cc == a.lastCc) return;  // no PES begun, or a repeated packet
    a.lastCc = cc;
    a.pes.insert(a.pes.end(), payload, payload + len);
    if (a.pes.size() >= kMaxPes) flushPes(a);
}

// Every whole packet in data, from offset pos; returns where the first packet
// not wholly there begins.
size_t feedPackets(Analyser& a, const uint8_t* data, size_t size, size_t pos, const PacketGeometry& g) {
    const size_t unit = static_cast<size_t>(g.size);
    const size_t sync = static_cast<size_t>(g.syncOffset);
    for (; pos + unit <= size; pos += unit) onPacket(a, data + pos + sync);
    return pos;
}

// The last, cut packet still counts when its 188 bytes are there.
void feedTail(Analyser& a, const uint8_t* data, size_t size, size_t pos, const PacketGeometry& g) {
    const size_t sync = static_cast<size_t>(g.syncOffset);
    if (pos + sync + kTsPacket <= size) onPacket(a, data + pos + sync);
}

void finishAnalysis(Analyser& a, const AudioOptions& options, AudioAnalysis& out) {
    flushPes(a);
    parseAndDecode(a, nullptr, 0, AV_NOPTS_VALUE);
    decodePacket(a, nullptr, 0, AV_NOPTS_VALUE);
    out.start = a.levels.start;
    out.duration = a.duration;
    out.levelDb.resize(a.levels.sum.size());
    for (size_t i = 0; i < out.levelDb.size(); ++i) out.levelDb[i] = levelDb(a.levels.sum[i], a.levels.count[i]);
    AudioOptions used = options;
    used.windowSeconds = a.levels.window;
    out.silences = findSilences(out.levelDb, out.start, used);
    if (a.frames > 0) {
        out.status = AudioStatus::Ok;
    } else {
        char text[96];
        std::snprintf(text, sizeof text, "no %s frame decoded from PID 0x%04X", out.stream.codecName.c_str(), a.pid);
        out.status = AudioStatus::NothingDecoded;
        out.detail = text;
    }
}

// ---------------------------------------------------------------- the stream

// The first PES of pid in the buffer: its payload bytes in that packet.
bool firstPesPayload(const uint8_t* data, size_t size, size_t phase, const PacketGeometry& g, int pid,
                     const uint8_t*& payload, size_t& len) {
    const size_t unit = static_cast<size_t>(g.size);
    const size_t sync = static_cast<size_t>(g.syncOffset);
    for (size_t pos = phase; pos + sync + kTsPacket <= size; pos += unit) {
        const uint8_t* p = data + pos + sync;
        if (p[0] != 0x47 || packetPid(p) != pid || !packetPusi(p) || (p[1] & 0x80)) continue;
        const uint8_t* pl = nullptr;
        size_t n = 0;
        size_t at = 0;
        int64_t pts = 0;
        if (!packetPayload(p, pl, n) || !parsePesHeader(pl, n, at, pts)) continue;
        payload = pl + at;
        len = n - at;
        return true;
    }
    return false;
}

// MPEG audio: the layer of the first valid frame header in the bytes, else
// layer II, the broadcast one.
AVCodecID mpegAudioCodec(const uint8_t* s, size_t n) {
    for (size_t i = 0; i + 4 <= n; ++i) {
        if (s[i] != 0xFF || (s[i + 1] & 0xE0) != 0xE0) continue;
        const int version = (s[i + 1] >> 3) & 3;
        const int layer = (s[i + 1] >> 1) & 3;
        const int bitrate = s[i + 2] >> 4;
        const int rate = (s[i + 2] >> 2) & 3;
        if (version == 1 || layer == 0 || bitrate == 15 || rate == 3) continue;
        return layer == 3 ? AV_CODEC_ID_MP1 : layer == 2 ? AV_CODEC_ID_MP2 : AV_CODEC_ID_MP3;
    }
    return AV_CODEC_ID_MP2;
}

// Private data (0x06) is audio we know when its PES begins with an AC-3
// frame (E-AC-3 by its bitstream id), or with an ADTS header: AAC as muxers
// that write 192-byte packets declare it.
AVCodecID privateAudioCodec(const uint8_t* s, size_t n) {
    if (n >= 6 && s[0] == 0x0B && s[1] == 0x77) return (s[5] >> 3) > 10 ? AV_CODEC_ID_EAC3 : AV_CODEC_ID_AC3;
    if (n >= 7 && s[0] == 0xFF && (s[1] & 0xF6) == 0xF0 && ((s[2] >> 2) & 0x0F) < 13) return AV_CODEC_ID_AAC;
    return AV_CODEC_ID_NONE;
}

// The decoder for a codec: MPEG audio layers I and II by their floating-point
// decoders, which take half the time of the fixed-point ones that libavcodec
// offers first.
const AVCodec* decoderFor(AVCodecID id) {
    const char* faster = id == AV_CODEC_ID_MP1 ? "mp1float" : id == AV_CODEC_ID_MP2 ? "mp2float" : nullptr;
    const AVCodec* decoder = faster ? avcodec_find_decoder_by_name(faster) : nullptr;
    return decoder ? decoder : avcodec_find_decoder(id);
}

}  // namespace

bool findFirstAudioStreamInBuffer(const uint8_t* data, size_t size, const PacketGeometry& geometry, AudioStream& out) {
    out = AudioStream{};
    if (!data || !usableGeometry(geometry)) return false;
    quietLibav();
    const size_t unit = static_cast<size_t>(geometry.size);
    const size_t sync = static_cast<size_t>(geometry.syncOffset);
    const size_t phase = findPhase(data, size, geometry);
    ProgramList list;
    for (size_t pos = phase; pos + sync + kTsPacket <= size && !list.pmtParsed; pos += unit) {
        const uint8_t* p = data + pos + sync;
        if (p[0] == 0x47 && !(p[1] & 0x80)) collectProgramPacket(list, p);
    }
    if (!list.pmtParsed) return false;
    for (size_t i = list.pmtEntriesFrom; i < list.entries.size(); ++i) {
        const ProgramEntry& e = list.entries[i];
        AVCodecID id = AV_CODEC_ID_NONE;
        const uint8_t* payload = nullptr;
        size_t len = 0;
        switch (e.streamType) {
        case 0x03:
        case 0x04:
            id = AV_CODEC_ID_MP2;
            if (firstPesPayload(data, size, phase, geometry, e.pid, payload, len)) id = mpegAudioCodec(payload, len);
            break;
        case 0x0F: id = AV_CODEC_ID_AAC; break;
        case 0x11: id = AV_CODEC_ID_AAC_LATM; break;
        case 0x81: id = AV_CODEC_ID_AC3; break;
        case 0x87: id = AV_CODEC_ID_EAC3; break;
        case 0x06:
            if (firstPesPayload(data, size, phase, geometry, e.pid, payload, len)) id = privateAudioCodec(payload, len);
            break;
        default: break;
        }
        if (id == AV_CODEC_ID_NONE) {
            // Remembered for the message: it may be audio of a kind we cannot decode.
            if (e.streamType == 0x06 && out.pid < 0) {
                out.pid = e.pid;
                out.streamType = e.streamType;
            }
            continue;
        }
        out.pid = e.pid;
        out.streamType = e.streamType;
        const AVCodec* decoder = decoderFor(id);
        out.codecName = decoder ? decoder->name : "";
        return true;
    }
    return false;
}

bool findFirstAudioStream(const std::string& path, const PacketGeometry& geometry, AudioStream& out) {
    out = AudioStream{};
    File f;
    if (!f.openRead(path)) return false;
    std::vector<uint8_t> head(kProbeBytes);
    const int64_t got = f.read(head.data(), head.size());
    if (got <= 0) return false;
    return findFirstAudioStreamInBuffer(head.data(), static_cast<size_t>(got), geometry, out);
}

void analyseAudio(const std::string& path, const PacketGeometry& geometry, const AudioStream& stream, int64_t originPts,
                  const AudioOptions& options, const AudioProgress& progress, AudioAnalysis& out) {
    out = AudioAnalysis{};
    out.stream = stream;
    if (stream.pid < 0) return;  // NoAudio
    File f;
    if (!f.openRead(path)) {
        out.status = AudioStatus::ReadError;
        out.detail = errorText(f.error());
        return;
    }
    if (!usableGeometry(geometry)) {
        out.status = AudioStatus::ReadError;
        out.detail = "unknown packet size";
        return;
    }
    Analyser a;
    if (!openAnalyser(a, stream, originPts, options, out)) return;
    posix_fadvise(f.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const int64_t total = f.size();
    const size_t unit = static_cast<size_t>(geometry.size);
    std::vector<uint8_t> buf(kReadChunk + unit);
    size_t have = 0;
    size_t pos = 0;
    int64_t done = 0;
    bool first = true;
    for (;;) {
        const int64_t got = f.read(buf.data() + have, kReadChunk);
        if (got < 0) {
            out.status = AudioStatus::ReadError;
            out.detail = errorText(f.error());
            return;
        }
        if (got == 0) break;
        have += static_cast<size_t>(got);
        done += got;
        if (first) {
            pos = findPhase(buf.data(), have, geometry);
            first = false;
        }
        pos = feedPackets(a, buf.data(), have, pos, geometry);
        std::memmove(buf.data(), buf.data() + pos, have - pos);
        have -= pos;
        pos = 0;
        if (progress && !progress(done, total)) {
            out.status = AudioStatus::Cancelled;
            return;
        }
    }
    feedTail(a, buf.data(), have, pos, geometry);
    finishAnalysis(a, options, out);
}

void analyseAudioBuffer(const uint8_t* data, size_t size, const PacketGeometry& geometry, const AudioStream& stream,
                        int64_t originPts, const AudioOptions& options, AudioAnalysis& out) {
    out = AudioAnalysis{};
    out.stream = stream;
    if (stream.pid < 0) return;
    if (!data || !usableGeometry(geometry)) {
        out.status = AudioStatus::ReadError;
        out.detail = "unknown packet size";
        return;
    }
    Analyser a;
    if (!openAnalyser(a, stream, originPts, options, out)) return;
    const size_t pos = feedPackets(a, data, size, findPhase(data, size, geometry), geometry);
    feedTail(a, data, size, pos, geometry);
    finishAnalysis(a, options, out);
}

int64_t unwrapPts(int64_t raw, int64_t previous) {
    int64_t diff = (raw - previous) & (kPtsWrap - 1);
    if (diff >= kPtsWrap / 2) diff -= kPtsWrap;
    return previous + diff;
}

std::vector<Silence> findSilences(const std::vector<float>& levelDb, double start, const AudioOptions& options) {
    std::vector<Silence> out;
    const double w = options.windowSeconds;
    if (!(w > 0)) return out;
    size_t i = 0;
    const size_t n = levelDb.size();
    while (i < n) {
        if (!(levelDb[i] < options.thresholdDb)) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n && levelDb[j] < options.thresholdDb) ++j;
        // A little slack so ten 0.01 s windows make 0.1 s.
        if (static_cast<double>(j - i) * w >= options.minSilence - 1e-9)
            out.push_back({start + static_cast<double>(i) * w, start + static_cast<double>(j) * w});
        i = j;
    }
    return out;
}

}  // namespace tavrel::detect
