#include "program_tables.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "edit_state.h"
#include "file.h"
#include "host.h"
#include "ts_packet.h"

namespace tavrel {

StreamTypeInfo streamTypeInfo(uint8_t t) {
    switch (t) {
    case 0x00: return {"Reserved", kKindPat, 0};
    case 0x01: return {"MPEG-1 Video", kKindVideo, 1};
    case 0x02: return {"MPEG-2 Video", kKindVideo, 1};
    case 0x03: return {"MPEG-1 Audio", kKindAudio, 1};
    case 0x04: return {"MPEG-4 Audio", kKindAudio, 1};
    case 0x05: return {"MPEG-2 Sections", kKindPat, 0};
    case 0x06: return {"MPEG-2 PES packets", kKindPat, 0};
    case 0x07: return {"MHEG", kKindPat, 0};
    case 0x08: return {"MPEG-2 Systems", kKindPat, 0};
    case 0x09: return {"Network Adaptation", kKindPat, 0};
    case 0x0A: return {"DSM-CC type A", kKindPat, 0};
    case 0x0B: return {"DSM-CC type B", kKindPat, 0};
    case 0x0C: return {"DSM-CC type C", kKindPat, 0};
    case 0x0D: return {"DSM-CC type D", kKindPat, 0};
    case 0x0E: return {"Auxiliary", kKindPat, 0};
    case 0x0F: return {"MPEG-2 AAC", kKindAudio, 1};
    case 0x10: return {"MPEG-4 Visual", kKindPat, 0};
    case 0x11: return {"MPEG-4 Audio", kKindAudio, 1};
    case 0x12: return {"MPEG-4 PES packets", kKindPat, 0};
    case 0x13: return {"MPEG-4 Sections", kKindPat, 0};
    case 0x14: return {"Extensions for DSM-CC", kKindPat, 0};
    case 0x80: return {"unknown", kKindPat, 0};
    case 0x81: return {"Dolby AC-3", kKindAudio, 0};
    case 0x82: return {"unknown", kKindPat, 0};
    case 0x83: return {"Linear PCM", kKindAudio, 0};
    default: break;
    }
    if (t < 0x80) return {"Reserved", kKindPat, 0};
    return {"User Private", kKindPat, 0};
}

void ProgramList::clear() {
    entries.clear();
    std::memset(patSection, 0, sizeof patSection);
    std::memset(pmtSection, 0, sizeof pmtSection);
    pmtRegistered = patStarted = pmtStarted = 0;
    patMissing = pmtMissing = 0;
    pmtComplete = 0;
    lastProgramNumber = 0;
    pmtPid = -1;
    patFill = pmtFill = 0;
    pmtEntriesFrom = 0;
    pmtParsed = false;
}

const ProgramEntry* findProgramEntry(const ProgramList& list, int value, FindBy by) {
    for (const ProgramEntry& e : list.entries) {
        int v = by == FindBy::Kind ? e.kind : e.streamType;
        if (v == value) return &e;
    }
    return nullptr;
}

ProgramEntry* findProgramEntry(ProgramList& list, int value, FindBy by) {
    return const_cast<ProgramEntry*>(findProgramEntry(std::as_const(list), value, by));
}

namespace {

void addEntry(ProgramList& list, uint8_t streamType, uint8_t kind, int32_t pid, const char* name, int32_t minimum) {
    ProgramEntry e;
    e.streamType = streamType;
    e.kind = kind;
    e.pid = pid;
    e.name = name;
    e.selected = 1;
    e.minimum = minimum;
    list.entries.push_back(std::move(e));
}

int sectionLength(const uint8_t* s) { return ((s[1] & 0x0F) << 8) | s[2]; }

// End of the loop area of a section: the start of its CRC, within len.
size_t loopEnd(const uint8_t* s, size_t len) {
    size_t end = 3 + static_cast<size_t>(sectionLength(s));
    if (end > len) end = len;
    return end >= 4 ? end - 4 : 0;
}

// Section assembly shared by PAT and PMT. The first packet gives table_id,
// the two length bytes and up to 180 section bytes; later packets of the
// PID continue with their whole 184-byte payload. A section that would not
// fit the buffer is not assembled.
struct Assembly {
    uint8_t* buf;
    size_t& fill;
    int32_t& missing;
    int32_t& started;
};

bool startSection(Assembly a, const uint8_t* p) {
    const int len = ((p[6] & 0x0F) << 8) | p[7];
    if (3 + static_cast<size_t>(len) > ProgramList::kSectionCapacity) {
        a.fill = 0;
        a.missing = 0;
        return false;
    }
    ++a.started;
    std::memcpy(a.buf, p + 5, 3);
    const size_t take = len < 180 ? static_cast<size_t>(len) : 180;
    std::memcpy(a.buf + 3, p + 8, take);
    a.fill = 3 + take;
    a.missing = len - static_cast<int32_t>(take);
    return a.missing == 0;
}

bool continueSection(Assembly a, const uint8_t* p) {
    const size_t take = a.missing < 184 ? static_cast<size_t>(a.missing) : 184;
    std::memcpy(a.buf + a.fill, p + 4, take);
    a.fill += take;
    a.missing -= static_cast<int32_t>(take);
    return a.missing == 0;
}

}  // namespace

void parsePatSection(ProgramList& list, const uint8_t* s, size_t len) {
    if (len < 3 || s[0] != 0x00) return;
    addEntry(list, 0, kKindPat, 0, "PAT", 1);
    const size_t end = loopEnd(s, len);
    for (size_t i = 8; i + 4 <= end; i += 4) {
        const int program = (s[i] << 8) | s[i + 1];
        const int pid = ((s[i + 2] & 0x1F) << 8) | s[i + 3];
        list.lastProgramNumber = program;
        if (program == 0) {
            addEntry(list, 0, kKindNetwork, pid, "Network PID", 1);
            continue;
        }
        addEntry(list, 0, kKindPmt, pid, "PMT", 1);
        list.pmtPid = pid;
        list.pmtRegistered = 1;
        break;
    }
}

void parsePmtSection(ProgramList& list, const uint8_t* s, size_t len) {
    if (len < 12 || s[0] != 0x02) return;
    // A later copy of an incomplete PMT replaces what the earlier one added.
    if (list.pmtParsed && list.pmtEntriesFrom <= list.entries.size()) list.entries.resize(list.pmtEntriesFrom);
    list.pmtEntriesFrom = list.entries.size();
    list.pmtParsed = true;

    const int pcrPid = ((s[8] & 0x1F) << 8) | s[9];
    addEntry(list, 0, kKindPcr, pcrPid, "PCR PID", 1);
    const size_t end = loopEnd(s, len);
    size_t i = 12 + static_cast<size_t>(((s[10] & 0x0F) << 8) | s[11]);
    while (i + 5 <= end) {
        const uint8_t type = s[i];
        const int pid = ((s[i + 1] & 0x1F) << 8) | s[i + 2];
        const size_t esInfo = static_cast<size_t>(((s[i + 3] & 0x0F) << 8) | s[i + 4]);
        const StreamTypeInfo info = streamTypeInfo(type);
        addEntry(list, type, info.kind, pid, info.name, info.minimum);
        i += 5 + esInfo;
    }
    if (findProgramEntry(list, kKindVideo, FindBy::Kind) && findProgramEntry(list, kKindAudio, FindBy::Kind)) {
        addEntry(list, 0, kKindNull, 0x1FFF, "NULL", 0);
        list.pmtComplete = 1;
    }
}

bool collectProgramPacket(ProgramList& list, const uint8_t* p) {
    if (list.pmtRegistered && list.pmtComplete) return true;
    const int afc = packetAfc(p);
    if (afc == 0 || afc == 2) return false;
    const int pid = packetPid(p);
    const uint8_t tableId = p[5];

    if (!list.pmtRegistered) {
        if (pid != 0) return false;
        Assembly a{list.patSection, list.patFill, list.patMissing, list.patStarted};
        bool done = false;
        if (list.patMissing > 0)
            done = continueSection(a, p);
        else if (tableId == 0x00)
            done = startSection(a, p);
        // A PAT without a program is read once, not once per repetition.
        if (done && !findProgramEntry(list, kKindPat, FindBy::Kind))
            parsePatSection(list, list.patSection, list.patFill);
        return false;
    }

    if (pid != list.pmtPid) return false;
    Assembly a{list.pmtSection, list.pmtFill, list.pmtMissing, list.pmtStarted};
    bool done = false;
    if (list.pmtMissing > 0)
        done = continueSection(a, p);
    else if (tableId == 0x02)
        done = startSection(a, p);
    if (done) parsePmtSection(list, list.pmtSection, list.pmtFill);
    return list.pmtComplete != 0;
}

bool collectProgramTables(ProgramList& list, File& f, int64_t startPacket, int32_t packetSize) {
    int64_t offset = 0;
    if (packetSize <= 0 || startPacket < 0 || __builtin_mul_overflow(startPacket, int64_t{packetSize}, &offset) ||
        !f.seek(offset))
        return false;
    // Room for a sync byte found late in the unit plus a whole packet; the
    // tail stays zero so nothing stale is parsed.
    std::vector<uint8_t> buf(static_cast<size_t>(packetSize) + 33 + 188, 0);
    for (int n = 0; n < ProgramList::kPacketLimit; ++n) {
        std::memset(buf.data(), 0, buf.size());
        const int64_t got = f.read(buf.data(), static_cast<size_t>(packetSize));
        if (got <= 0) return false;
        const void* sync = std::memchr(buf.data(), 0x47, got < 33 ? static_cast<size_t>(got) : 33);
        if (!sync) return false;
        if (collectProgramPacket(list, static_cast<const uint8_t*>(sync))) return true;
    }
    return false;
}

namespace {

struct Acquisition {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    // Results, handed over only when the caller still waits.
    bool opened = false;
    bool detected = false;
    PacketGeometry geometry;
    ProgramList list;
    std::vector<std::string> messages;
};

void acquisitionWorker(std::shared_ptr<Acquisition> acq, std::string input, int64_t start, AcquisitionHooks hooks) {
    if (hooks.started) hooks.started();
    File f;
    PacketGeometry g;
    bool opened = f.openRead(input);
    bool detected = false;
    std::vector<std::string> messages;
    auto list = std::make_unique<ProgramList>();
    if (!opened) {
        messages.emplace_back(kMsgInputOpen);
    } else if (!detectPacketGeometry(f, g) || g.size < 188) {
        messages.emplace_back("Not MPEG2 Transport Stream");
    } else {
        detected = true;
        collectProgramTables(*list, f, start, g.size);
    }
    f.close();
    std::lock_guard<std::mutex> lock(acq->m);
    acq->opened = opened;
    acq->detected = detected;
    acq->geometry = g;
    acq->list = std::move(*list);
    acq->messages = std::move(messages);
    acq->done = true;
    acq->cv.notify_all();
    if (hooks.ended) hooks.ended();
}

}  // namespace

int acquirePids(EditState& state, JobHost& host, int64_t startPacket, ProgramListChoice which, int waitMs,
                const AcquisitionHooks* hooks) {
    if (state.inputPath.empty()) return 0;
    auto acq = std::make_shared<Acquisition>();
    std::thread worker;
    try {
        worker = std::thread(acquisitionWorker, acq, state.inputPath, startPacket, hooks ? *hooks : AcquisitionHooks{});
    } catch (const std::system_error&) {
        host.showMessage("error", "ＧＯＰ情報取得スレッドの作成に失敗しました", MsgKind::Ok);
        return 0;
    }
    state.streamVideoPid = 0xFFFF;

    bool finished;
    {
        std::unique_lock<std::mutex> lock(acq->m);
        finished = acq->cv.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return acq->done; });
    }
    if (!finished) {
        worker.detach();  // it only touches the shared record it co-owns
        return 1;
    }
    worker.join();

    ProgramList& list = which == ProgramListChoice::FileInfo ? state.fileInfoPidList : state.pidList;
    if (acq->detected) {
        state.geometry = acq->geometry;
        list = std::move(acq->list);
    }
    for (const std::string& text : acq->messages) host.showMessage("error", text, MsgKind::Ok);
    return 1;
}

}  // namespace tavrel
