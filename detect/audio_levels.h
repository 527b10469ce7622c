// The audio signal of the break detector: the first audio stream of a
// recording decoded with libavcodec (AAC, MPEG audio, AC-3), its level in
// short windows, and the silences in it.
//
// Times are seconds on the recording's own clock, counted from an origin the
// caller gives as a raw 33-bit 90 kHz PTS (the first GOP's): every PES PTS is
// unwrapped against the one before it (the first against the origin), so a
// recording that crosses the 2^33 wrap keeps a continuous time line. An origin
// below 0 means "the first audio PTS".
//
// Stream types taken as audio, in PMT order: 0x03/0x04 MPEG audio (layer I,
// II or III after its first frame header), 0x0F AAC (ADTS), 0x11 AAC (LATM),
// 0x81 AC-3, 0x87 E-AC-3, and 0x06 private data whose first PES payload
// starts with the AC-3 sync word (or an ADTS header: AAC as some muxers of
// 192-byte packets declare it). Any other 0x06 stream (subtitles, teletext,
// or audio we do not know, such as Opus) is passed over, so a programme with
// nothing else gives false from findFirstAudioStream (NoAudio for the job).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ts_packet.h"

namespace tavrel::detect {

// A stretch below the silence threshold, [start, end) in seconds.
struct Silence {
    double start = 0;
    double end = 0;
};

struct AudioOptions {
    double thresholdDb = -50;     // RMS of all channels, dB below full scale
    double minSilence = 0.1;      // seconds; shorter quiet stretches are no silence
    double windowSeconds = 0.01;  // level window
};

enum class AudioStatus {
    Ok,
    NoAudio,           // the first program has no audio stream
    CodecUnsupported,  // no decoder for its stream type, or libavcodec cannot open it
    NothingDecoded,    // packets found, but not one frame decoded
    ReadError,         // the file could not be opened or read
    Cancelled,
};

// The first program's first audio stream, as found in its PMT.
struct AudioStream {
    int pid = -1;
    int streamType = 0;
    std::string codecName;  // libavcodec's name of the decoder, "" when none
};

struct AudioAnalysis {
    AudioStatus status = AudioStatus::NoAudio;
    AudioStream stream;
    std::string detail;          // what went wrong, for the message (errno text, libavcodec's reason)
    double start = 0;            // time of the first level window
    std::vector<float> levelDb;  // one per window from start; -120 for digital silence
    std::vector<Silence> silences;
    double duration = 0;  // seconds of audio decoded
};

// Called now and then with the bytes read so far; returns false to cancel.
using AudioProgress = std::function<bool(int64_t done, int64_t total)>;

// Finds the first audio stream of the first program (the PAT and PMT near
// the start of the file).
// Reads at most the first 4 MiB; false when there is no such stream (or the
// file cannot be read). Then out.pid is -1, or the PID of the first private
// data stream (0x06), which may be audio of a kind not decoded here.
bool findFirstAudioStream(const std::string& path, const PacketGeometry& geometry, AudioStream& out);
// The same over the start of a recording in memory.
bool findFirstAudioStreamInBuffer(const uint8_t* data, size_t size, const PacketGeometry& geometry, AudioStream& out);

// Reads the whole recording once, decodes the stream's PES packets and
// measures them. out.status says how it ended. The level is the mean square
// of all channels; AC-3 with more than two is measured on the decoder's own
// stereo mix (a fifth faster to decode). Windows that no sample falls
// into (a gap in the audio) read -120 dB like digital silence. A PTS that
// jumps more than 120 s ahead of the audio decoded so far, or more than 1 s
// back, is taken as a clock discontinuity: the time line runs on from the
// audio before it.
void analyseAudio(const std::string& path, const PacketGeometry& geometry, const AudioStream& stream, int64_t originPts,
                  const AudioOptions& options, const AudioProgress& progress, AudioAnalysis& out);

// The same over a recording in memory (the fuzz target's way in).
void analyseAudioBuffer(const uint8_t* data, size_t size, const PacketGeometry& geometry, const AudioStream& stream,
                        int64_t originPts, const AudioOptions& options, AudioAnalysis& out);

// A raw 33-bit 90 kHz time stamp placed next to previous (unwrapped), which
// may lie on any side of a wrap.
int64_t unwrapPts(int64_t raw, int64_t previous);

// The silences in a level series: runs of windows below the threshold that
// last at least minSilence.
std::vector<Silence> findSilences(const std::vector<float>& levelDb, double start, const AudioOptions& options);

}  // namespace tavrel::detect
