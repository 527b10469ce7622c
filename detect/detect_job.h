// The break detector as a job: reads a recording whose GOP list is known,
// proposes the programme parts as GOP ranges and the breaks between them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "edit_state.h"
#include "host.h"

namespace tavrel::detect {

// A commercial break: GOPs [firstGop, endGop), and the spot lengths found in
// it, in seconds.
struct Break {
    int64_t firstGop = 0;
    int64_t endGop = 0;
    double start = 0, end = 0;  // seconds from the first GOP
    std::vector<double> spots;
};

// A programme part to keep: GOPs [inGop, outGop); outGop == the GOP count
// means "to the end".
struct Part {
    int64_t inGop = 0;
    int64_t outGop = 0;
};

struct DetectResult {
    std::vector<Part> parts;
    std::vector<Break> breaks;
    int64_t gopCount = 0;  // GOPs of the list, without its LAST entry
    bool logoFound = false;
};

enum class DetectStatus {
    Ok,
    NoVideo,     // no GOP in the list
    NoAudio,     // no audio stream in the first program
    AudioCodec,  // the audio cannot be decoded
    TooShort,    // shorter than one spot (15 s)
    ReadError,
    Cancelled,
};

// Runs on a worker thread. state.inputPath, state.geometry, state.gopList and
// state.streamVideoPid must describe the recording (a finished scan).
// Progress goes to host (setProgressRange / setProgress, cancelRequested);
// failures are shown through host with the texts below, once.
DetectStatus runDetectJob(const EditState& state, JobHost& host, DetectResult& out);

// The messages of the failures (caption "error"); the CLI adds ": FILE".
inline constexpr char kMsgNoAudio[] = "no audio stream";
inline constexpr char kMsgAudioCodec[] = "cannot decode the audio stream";
inline constexpr char kMsgTooShort[] = "the recording is shorter than one spot (15 s)";

struct AudioStream;
// The message for a recording whose only candidate for audio is a private
// data stream that is not audio this program decodes.
std::string noDecoderText(const AudioStream& stream);

}  // namespace tavrel::detect
