// The handheld's DLP server: one handler per request, each reading its argument in the
// field order of the request table and answering in the layout a Palm OS unit uses.
#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "tools/handheld/handheld_state.h"

namespace handheld {
namespace {

// DLP error codes answered in the response header.
enum : uint16_t {
    kErrNone = 0x00,
    kErrSystem = 0x01,
    kErrIllegalReq = 0x02,
    kErrParam = 0x04,
    kErrNotFound = 0x05,
    kErrNoneOpen = 0x06,
    kErrDatabaseOpen = 0x07,
    kErrTooManyOpen = 0x08,
    kErrAlreadyExists = 0x09,
    kErrNotSupported = 0x0D,
    kErrReadOnly = 0x0F,
    kErrNotEnoughSpace = 0x10,
    kErrLimitExceeded = 0x11,
    kErrCancelSync = 0x12,
    kErrBadWrapper = 0x13,
    kErrArgMissing = 0x14,
    kErrArgSize = 0x15,
};

constexpr uint8_t kArg0 = 0x20, kArg1 = 0x21, kArg2 = 0x22;
constexpr uint8_t kModeWrite = 0x40;
constexpr size_t kMaxOpen = 16;
constexpr size_t kMaxEntrySize = 65536;  // a storage chunk holds no more
constexpr size_t kDbListPerReply = 20;   // as many as a recorded unit packs
constexpr size_t kDbInfoSize = 44;
constexpr uint16_t kAttrOpenDb = 0x8000;
constexpr uint32_t kPsys = 0x70737973;  // 'psys'
constexpr uint32_t kProductId = 0x00020000;
constexpr uint32_t kLocale = 0x00010000;
constexpr int64_t kCardCreated = 1002634417;  // 2001-10-09 13:33:37, the card's birth

struct Arg {
    uint8_t id = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Reads big-endian fields in order; any read past the end marks the reader failed.
class CReader {
  public:
    CReader(const uint8_t* data, size_t size) : m_p(data), m_n(size) {}
    explicit CReader(const Arg& arg) : m_p(arg.data), m_n(arg.size) {}
    uint8_t U8() { return Need(1) ? m_p[m_pos++] : 0; }
    uint16_t U16() {
        if (!Need(2)) return 0;
        const uint16_t v = static_cast<uint16_t>((m_p[m_pos] << 8) | m_p[m_pos + 1]);
        m_pos += 2;
        return v;
    }
    uint32_t U32() {
        const uint32_t hi = U16();
        return (hi << 16) | U16();
    }
    int64_t Date() {
        if (!Need(8)) return 0;
        const int64_t v = DecodeDlpDate(m_p + m_pos);
        m_pos += 8;
        return v;
    }
    // A NUL-terminated text; without a NUL the rest of the argument.
    std::string Str0() {
        std::string s;
        while (m_pos < m_n && m_p[m_pos] != 0) s.push_back(static_cast<char>(m_p[m_pos++]));
        if (m_pos < m_n) ++m_pos;
        return s;
    }
    std::vector<uint8_t> Bytes(size_t n) {
        if (!Need(n)) return {};
        std::vector<uint8_t> v(m_p + m_pos, m_p + m_pos + n);
        m_pos += n;
        return v;
    }
    std::vector<uint8_t> Rest() { return Bytes(m_n - std::min(m_pos, m_n)); }
    bool Ok() const { return m_bOk; }

  private:
    bool Need(size_t n) {
        if (m_pos + n > m_n) {
            m_bOk = false;
            return false;
        }
        return true;
    }
    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
    bool m_bOk = true;
};

class CWriter {
  public:
    CWriter& U8(uint8_t v) {
        m_b.push_back(v);
        return *this;
    }
    CWriter& U16(uint16_t v) {
        return U8(static_cast<uint8_t>(v >> 8)).U8(static_cast<uint8_t>(v));
    }
    CWriter& U32(uint32_t v) {
        return U16(static_cast<uint16_t>(v >> 16)).U16(static_cast<uint16_t>(v));
    }
    CWriter& Date(int64_t seconds) {
        uint8_t d[8];
        EncodeDlpDate(seconds, d);
        m_b.insert(m_b.end(), d, d + 8);
        return *this;
    }
    CWriter& Bytes(const uint8_t* p, size_t n) {
        m_b.insert(m_b.end(), p, p + n);
        return *this;
    }
    CWriter& Str0(const std::string& s) {
        m_b.insert(m_b.end(), s.begin(), s.end());
        return U8(0);
    }
    CWriter& PadEven() {
        if (m_b.size() % 2) m_b.push_back(0);
        return *this;
    }
    std::vector<uint8_t>& Data() { return m_b; }

  private:
    std::vector<uint8_t> m_b;
};

// A small JSON object for the request log.
class CJson {
  public:
    CJson& Int(const char* key, int64_t v) { return Raw(key, std::to_string(v)); }
    CJson& Bool(const char* key, bool v) { return Raw(key, v ? "true" : "false"); }
    CJson& Text(const char* key, const std::string& v) {
        return Raw(key, "\"" + JsonEscape(v) + "\"");
    }
    CJson& FourCC(const char* key, uint32_t v) { return Text(key, pdb::FourCCToText(v)); }
    std::string Str() const { return "{" + m_s + "}"; }

  private:
    CJson& Raw(const char* key, const std::string& v) {
        if (!m_s.empty()) m_s += ",";
        m_s += "\"" + std::string(key) + "\":" + v;
        return *this;
    }
    std::string m_s;
};

struct Reply {
    uint16_t error = kErrNone;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> args;

    static Reply Error(uint16_t e) {
        Reply r;
        r.error = e;
        return r;
    }
    Reply& Add(uint8_t id, std::vector<uint8_t> data) {
        args.emplace_back(id, std::move(data));
        return *this;
    }
};

// The response wrappers: tiny up to 255 bytes, small up to 65,535, long beyond (DLP 1.4).
std::vector<uint8_t> EncodeReply(uint8_t function, const Reply& reply) {
    std::vector<uint8_t> out{static_cast<uint8_t>(function | 0x80),
                             static_cast<uint8_t>(reply.error ? 0 : reply.args.size()),
                             static_cast<uint8_t>(reply.error >> 8),
                             static_cast<uint8_t>(reply.error)};
    if (reply.error) return out;
    for (const auto& [id, data] : reply.args) {
        const size_t n = data.size();
        if (n <= 0xFF) {
            out.insert(out.end(), {id, static_cast<uint8_t>(n)});
        } else if (n <= 0xFFFF) {
            out.insert(out.end(), {static_cast<uint8_t>(id | 0x80), 0, static_cast<uint8_t>(n >> 8),
                                   static_cast<uint8_t>(n)});
        } else {
            out.insert(out.end(), {static_cast<uint8_t>(id | 0x40), 0,
                                   static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                   static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        }
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

// Splits a request into its arguments. 0 or a DLP error.
uint16_t ParseArgs(const std::vector<uint8_t>& msg, uint16_t dlpVersion, std::vector<Arg>& args) {
    const size_t argc = msg[1];
    size_t pos = 2;
    for (size_t i = 0; i < argc; ++i) {
        if (pos + 2 > msg.size()) return kErrArgMissing;
        const uint8_t b0 = msg[pos];
        Arg arg;
        arg.id = b0 & 0x3F;
        size_t header = 2, size = msg[pos + 1];
        switch (b0 & 0xC0) {
            case 0x00:
                break;
            case 0x80:
                if (pos + 4 > msg.size()) return kErrBadWrapper;
                header = 4;
                size = (size_t(msg[pos + 2]) << 8) | msg[pos + 3];
                break;
            case 0x40:
                if (dlpVersion < 0x0101 || pos + 6 > msg.size()) return kErrBadWrapper;
                header = 6;
                size = (size_t(msg[pos + 2]) << 24) | (size_t(msg[pos + 3]) << 16) |
                       (size_t(msg[pos + 4]) << 8) | msg[pos + 5];
                break;
            default:
                return kErrBadWrapper;
        }
        if (pos + header + size > msg.size()) return kErrArgSize;
        arg.data = msg.data() + pos + header;
        arg.size = size;
        args.push_back(arg);
        pos += header + size;
    }
    return kErrNone;
}

const Arg* FindArg(const std::vector<Arg>& args, uint8_t id) {
    for (const Arg& a : args) {
        if (a.id == id) return &a;
    }
    return nullptr;
}

int64_t EntryDataBytes(const HandheldDatabase& db) {
    int64_t n = static_cast<int64_t>(db.appInfo.size() + db.sortInfo.size());
    for (const auto& r : db.records) n += static_cast<int64_t>(r.data.size());
    for (const auto& r : db.resources) n += static_cast<int64_t>(r.data.size());
    return n;
}

}  // namespace

// ---- Dates --------------------------------------------------------------------------

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}
}  // namespace

void EncodeDlpDate(int64_t seconds, uint8_t out[8]) {
    std::memset(out, 0, 8);
    if (seconds == 0) return;
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    out[0] = static_cast<uint8_t>(y >> 8);
    out[1] = static_cast<uint8_t>(y);
    out[2] = static_cast<uint8_t>(m);
    out[3] = static_cast<uint8_t>(d);
    out[4] = static_cast<uint8_t>(rest / 3600);
    out[5] = static_cast<uint8_t>(rest / 60 % 60);
    out[6] = static_cast<uint8_t>(rest % 60);
}

int64_t DecodeDlpDate(const uint8_t in[8]) {
    const int64_t year = (int64_t(in[0]) << 8) | in[1];
    if (year == 0) return 0;
    const unsigned month = std::clamp<unsigned>(in[2], 1, 12);
    const unsigned day = std::clamp<unsigned>(in[3], 1, 31);
    return DaysFromCivil(year, month, day) * 86400 + int64_t(in[4]) * 3600 + int64_t(in[5]) * 60 +
           in[6];
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Palm texts are 8-bit; keep JSON pure ASCII.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    return out;
}

// ---- The server -----------------------------------------------------------------------

namespace {

class CRequest {
  public:
    CRequest(CVirtualHandheld::State& state, const std::vector<Arg>& args)
        : s(state), m_args(args) {}

    CVirtualHandheld::State& s;
    CJson log;
    bool endOfSync = false;

    const Arg* Get(uint8_t id) const { return FindArg(m_args, id); }
    uint16_t Dlp() const { return s.config.dlpVersion; }

    OpenDatabase* Handle(uint8_t h) {
        auto it = s.handles.find(h);
        return it == s.handles.end() ? nullptr : &it->second;
    }
    uint16_t BadHandle() const { return s.handles.empty() ? kErrNoneOpen : kErrParam; }

    // Storage for a write of n bytes replacing old bytes; 0 or the DLP error.
    uint16_t Reserve(int64_t n, int64_t old) {
        if (s.config.fullAfterBytes >= 0 && s.bytesStored + n > s.config.fullAfterBytes) {
            return kErrNotEnoughSpace;
        }
        if (n - old > s.freeRam) return kErrNotEnoughSpace;
        s.freeRam -= n - old;
        s.bytesStored += n;
        return kErrNone;
    }
    // The lost-write fault: this write is answered as done but not kept.
    bool LosesWrite() {
        return s.config.loseWriteEvery > 0 && ++s.writesSeen % s.config.loseWriteEvery == 0;
    }
    void Modified(CardDatabase& db) {
        ++db.db.info.modnum;
        db.db.info.modifyDate = s.Now();
    }

    static bool InRom(const CardDatabase& db) { return db.InRom(); }

    std::vector<uint8_t> DbInfo(const CardDatabase& db, uint16_t index) const {
        const auto& info = db.db.info;
        bool open = db.heldOpen;
        for (const auto& [h, o] : s.handles) open = open || o.db == &db;
        const size_t total = (kDbInfoSize + info.name.size() + 1 + 1) & ~size_t(1);
        CWriter w;
        w.U8(static_cast<uint8_t>(total))
            .U8(Dlp() >= 0x0102 && !InRom(db) ? 0x40 : 0x00)  // RAM based
            .U16(static_cast<uint16_t>(info.attributes | (open ? kAttrOpenDb : 0)))
            .U32(info.type)
            .U32(info.creator)
            .U16(info.version)
            .U32(info.modnum)
            .Date(info.createDate)
            .Date(info.modifyDate)
            .Date(info.backupDate)
            .U16(index)
            .Str0(info.name)
            .PadEven();
        return std::move(w.Data());
    }

  private:
    const std::vector<Arg>& m_args;
};

using HandlerFn = std::function<Reply(CRequest&)>;

Reply ReadUserInfo(CRequest& r) {
    const UserInfo& u = r.s.user;
    CWriter w;
    w.U32(u.userId).U32(u.viewerId).U32(u.lastSyncPc).Date(u.lastSuccessfulSync).Date(u.lastSync);
    w.U8(static_cast<uint8_t>(u.name.empty() ? 0 : u.name.size() + 1));
    w.U8(static_cast<uint8_t>(u.password.size()));
    if (!u.name.empty()) w.Str0(u.name);
    w.Bytes(u.password.data(), u.password.size());
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply WriteUserInfo(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint32_t userId = in.U32(), viewerId = in.U32(), syncPc = in.U32();
    const int64_t date = in.Date();
    const uint8_t modFlags = in.U8(), nameLength = in.U8();
    const std::vector<uint8_t> nameBytes = in.Bytes(nameLength);
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    std::string name(nameBytes.begin(), nameBytes.end());
    name = name.substr(0, name.find('\0'));
    r.log.Int("modFlags", modFlags)
        .Int("userId", userId)
        .Int("viewerId", viewerId)
        .Int("lastSyncPc", syncPc)
        .Int("date", date)
        .Text("name", name);
    if (nameLength > 41) return Reply::Error(kErrParam);
    UserInfo& u = r.s.user;
    if (modFlags & 0x80) u.userId = userId;
    if (modFlags & 0x40) u.lastSyncPc = syncPc;
    if (modFlags & 0x20) u.lastSync = u.lastSuccessfulSync = date;
    if (modFlags & 0x10) u.name = name;
    if (modFlags & 0x08) u.viewerId = viewerId;
    return {};
}

// Network HotSync settings: a flag, 16 reserved bytes, three text sizes (with their NULs),
// then the texts.
Reply ReadNetSyncInfo(CRequest& r) {
    const auto& n = r.s.netSync;
    CWriter w;
    w.U8(n.lanSyncOn).U8(0).U32(0).U32(0).U32(0).U32(0);
    const auto size = [](const std::string& t) {
        return static_cast<uint16_t>(t.empty() ? 0 : t.size() + 1);
    };
    w.U16(size(n.hostName)).U16(size(n.hostAddress)).U16(size(n.subnetMask));
    for (const std::string* t : {&n.hostName, &n.hostAddress, &n.subnetMask}) {
        if (!t->empty()) w.Str0(*t);
    }
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply WriteNetSyncInfo(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t modFlags = in.U8(), lanSyncOn = in.U8();
    for (int i = 0; i < 4; ++i) in.U32();
    const uint16_t nameSize = in.U16(), addressSize = in.U16(), maskSize = in.U16();
    const auto text = [&in](uint16_t n) {
        const std::vector<uint8_t> b = in.Bytes(n);
        std::string t(b.begin(), b.end());
        return t.substr(0, t.find('\0'));
    };
    const std::string name = text(nameSize), address = text(addressSize), mask = text(maskSize);
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("modFlags", modFlags).Int("lanSyncOn", lanSyncOn).Text("hostAddress", address);
    auto& n = r.s.netSync;
    if (modFlags & 0x80) n.lanSyncOn = lanSyncOn;
    if (modFlags & 0x40) n.hostName = name;
    if (modFlags & 0x20) n.hostAddress = address;
    if (modFlags & 0x10) n.subnetMask = mask;
    return {};
}

Reply ReadSysInfo(CRequest& r) {
    if (const Arg* a = r.Get(kArg0)) {
        CReader in(*a);
        const uint16_t major = in.U16(), minor = in.U16();
        if (in.Ok()) r.log.Int("hostMajor", major).Int("hostMinor", minor);
    }
    CWriter sys;
    sys.U32(r.s.config.romVersion).U32(kLocale).U8(0).U8(4).U32(kProductId);
    Reply reply;
    reply.Add(kArg0, std::move(sys.Data()));
    if (r.Dlp() >= 0x0102) {
        CWriter ver;
        ver.U16(static_cast<uint16_t>(r.Dlp() >> 8)).U16(r.Dlp() & 0xFF).U16(3).U16(0);
        ver.U32(r.s.config.maxRecordSize);
        reply.Add(kArg1, std::move(ver.Data()));
    }
    return reply;
}

Reply GetSysDateTime(CRequest& r) {
    CWriter w;
    w.Date(r.s.Now());
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply SetSysDateTime(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const int64_t t = in.Date();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("time", t);
    if (t == 0 || a->data[2] < 1 || a->data[2] > 12 || a->data[3] < 1 || a->data[3] > 31) {
        return Reply::Error(kErrParam);
    }
    r.s.SetClock(t);
    return {};
}

Reply ReadStorageInfo(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t card = in.U8();
    r.log.Int("card", card);
    if (card != 0) return Reply::Error(kErrNotFound);
    const std::string cardName = "Virtual Card", maker = "Cradlecourier";
    CWriter w;
    w.U8(0).U8(1).U8(0).U8(1);  // last card 0; "more" set as a recorded unit does; one card
    const size_t recordSize = (26 + cardName.size() + maker.size() + 1) & ~size_t(1);
    w.U8(static_cast<uint8_t>(recordSize)).U8(0).U16(1).Date(kCardCreated);
    w.U32(r.s.config.romSize).U32(r.s.config.ramSize);
    w.U32(static_cast<uint32_t>(std::max<int64_t>(0, r.s.freeRam)));
    w.U8(static_cast<uint8_t>(cardName.size())).U8(static_cast<uint8_t>(maker.size()));
    w.Bytes(reinterpret_cast<const uint8_t*>(cardName.data()), cardName.size());
    w.Bytes(reinterpret_cast<const uint8_t*>(maker.data()), maker.size());
    w.PadEven();
    Reply reply;
    reply.Add(kArg0, std::move(w.Data()));
    if (r.Dlp() >= 0x0101) {
        CWriter counts;
        counts.U16(0).U16(static_cast<uint16_t>(r.s.dbs.size()));
        for (int i = 0; i < 16; ++i) counts.U8(0);
        reply.Add(kArg1, std::move(counts.Data()));
    }
    return reply;
}

Reply ReadDBList(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t flags = in.U8(), card = in.U8();
    const uint16_t start = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("flags", flags).Int("card", card).Int("start", start);
    // RAM and ROM share the card's index, as on a real unit: the databases of the kind asked
    // for from the index start on, each under its card index; the next answer starts after
    // the last index of this one.
    std::vector<size_t> listed;
    for (size_t i = start; i < r.s.dbs.size(); ++i) {
        const bool rom = CRequest::InRom(*r.s.dbs[i]);
        if (flags & (rom ? 0x40 : 0x80)) listed.push_back(i);
    }
    if (card != 0 || listed.empty()) return Reply::Error(kErrNotFound);
    const size_t perReply = ((flags & 0x20) && r.Dlp() >= 0x0102) ? kDbListPerReply : 1;
    const size_t n = std::min(listed.size(), perReply);
    CWriter w;
    w.U16(static_cast<uint16_t>(listed[n - 1])).U8(n < listed.size() ? 0x80 : 0x00);
    w.U8(static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i) {
        const auto info = r.DbInfo(*r.s.dbs[listed[i]], static_cast<uint16_t>(listed[i]));
        w.Bytes(info.data(), info.size());
    }
    return Reply().Add(kArg0, std::move(w.Data()));
}

uint16_t NewHandle(CVirtualHandheld::State& s, CardDatabase* db, uint8_t mode, uint8_t& handle) {
    if (s.handles.size() >= kMaxOpen) return kErrTooManyOpen;
    // Handles count up through the session, as a recorded unit hands them out.
    do {
        s.lastHandle = static_cast<uint8_t>(s.lastHandle == 0xFF ? 1 : s.lastHandle + 1);
    } while (s.handles.count(s.lastHandle));
    handle = s.lastHandle;
    s.handles[handle] = OpenDatabase{db, mode};
    return kErrNone;
}

Reply OpenDB(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t card = in.U8(), mode = in.U8();
    const std::string name = in.Str0();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("card", card).Int("mode", mode).Text("name", name);
    CardDatabase* db = card == 0 ? r.s.Find(name) : nullptr;
    if (!db) return Reply::Error(kErrNotFound);
    if (db->InRom() && (mode & kModeWrite)) return Reply::Error(kErrReadOnly);
    uint8_t handle = 0;
    if (uint16_t e = NewHandle(r.s, db, mode, handle)) return Reply::Error(e);
    r.log.Int("handle", handle);
    return Reply().Add(kArg0, {handle});
}

Reply CreateDB(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint32_t creator = in.U32(), type = in.U32();
    const uint8_t card = in.U8();
    in.U8();
    const uint16_t attributes = in.U16(), version = in.U16();
    const std::string name = in.Str0();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.FourCC("creator", creator)
        .FourCC("type", type)
        .Int("card", card)
        .Int("attributes", attributes)
        .Int("version", version)
        .Text("name", name);
    if (card != 0 || name.empty() || name.size() > pdb::kMaxNameLength) {
        return Reply::Error(kErrParam);
    }
    if (r.s.Find(name)) return Reply::Error(kErrAlreadyExists);
    if (r.s.handles.size() >= kMaxOpen) return Reply::Error(kErrTooManyOpen);
    auto db = std::make_unique<CardDatabase>();
    auto& info = db->db.info;
    info.name = name;
    info.attributes = attributes;
    info.version = version;
    info.type = type;
    info.creator = creator;
    info.createDate = info.modifyDate = r.s.Now();
    info.modnum = 1;
    db->localId = r.s.nextLocalId += 0x100;
    CardDatabase* raw = db.get();
    r.s.dbs.push_back(std::move(db));
    uint8_t handle = 0;
    NewHandle(r.s, raw, 0xC0, handle);
    r.log.Int("handle", handle);
    return Reply().Add(kArg0, {handle});
}

Reply CloseDB(CRequest& r) {
    if (r.Get(kArg1)) {
        r.log.Bool("all", true);
        r.s.CloseAll();
        // The last holder lets go too, as when the user leaves the application.
        for (auto& db : r.s.dbs) db->heldOpen = false;
        return {};
    }
    const Arg* a = r.Get(kArg0);
    if (!a) a = r.Get(kArg2);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8();
    const uint8_t options = a->id == kArg2 ? in.U8() : 0;
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle);
    if (a->id == kArg2) r.log.Int("options", options);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    if (options & 0x80) open->db->db.info.backupDate = r.s.Now();
    if (options & 0x40) open->db->db.info.modifyDate = r.s.Now();
    r.s.handles.erase(handle);
    return {};
}

Reply DeleteDB(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t card = in.U8();
    in.U8();
    const std::string name = in.Str0();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("card", card).Text("name", name);
    CardDatabase* db = card == 0 ? r.s.Find(name) : nullptr;
    if (!db) return Reply::Error(kErrNotFound);
    if (db->InRom()) return Reply::Error(kErrReadOnly);
    bool open = db->heldOpen;
    for (const auto& [h, o] : r.s.handles) open = open || o.db == db;
    if (open) return Reply::Error(kErrDatabaseOpen);
    r.s.freeRam += EntryDataBytes(db->db);
    r.s.dbs.erase(std::find_if(r.s.dbs.begin(), r.s.dbs.end(),
                               [db](const auto& p) { return p.get() == db; }));
    return {};
}

// Read/WriteAppBlock and Read/WriteSortBlock share their layouts.
Reply ReadBlock(CRequest& r, bool sort) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8();
    in.U8();
    const uint16_t offset = in.U16(), count = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle).Int("offset", offset).Int("count", count);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    const auto& block = sort ? open->db->db.sortInfo : open->db->db.appInfo;
    if (block.empty() || offset > block.size()) return Reply::Error(kErrNotFound);
    const size_t n = std::min<size_t>(block.size() - offset, count);
    CWriter w;
    w.U16(static_cast<uint16_t>(n)).Bytes(block.data() + offset, n);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply WriteBlock(CRequest& r, bool sort) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8();
    in.U8();
    const uint16_t size = in.U16();
    std::vector<uint8_t> data = in.Rest();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle).Int("size", static_cast<int64_t>(data.size()));
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    if (!(open->mode & kModeWrite)) return Reply::Error(kErrReadOnly);
    if (size == 0) data.clear();  // removes the block
    auto& block = sort ? open->db->db.sortInfo : open->db->db.appInfo;
    if (uint16_t e =
            r.Reserve(static_cast<int64_t>(data.size()), static_cast<int64_t>(block.size()))) {
        return Reply::Error(e);
    }
    block = std::move(data);
    r.Modified(*open->db);
    return {};
}

// The largest data a reply may carry after fixedBytes of fields: small wrappers only
// before DLP 1.4, and one short-form PADP message unless long form was agreed.
size_t ReplyRoom(const CRequest& r, size_t fixedBytes) {
    const size_t limit = r.Dlp() >= 0x0104 ? 0x7FFFFFF : 0xFFFF - 4 - 4;
    return limit > fixedBytes ? limit - fixedBytes : 0;
}

Reply ReadRecord(CRequest& r) {
    const Arg* byId = r.Get(kArg0);
    const Arg* byIndex = r.Get(kArg1);
    if (!byId && !byIndex) return Reply::Error(kErrArgMissing);
    CReader in(byId ? *byId : *byIndex);
    const uint8_t handle = in.U8();
    in.U8();
    const uint32_t key = byId ? in.U32() : in.U16();
    const uint16_t offset = in.U16(), count = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle)
        .Int(byId ? "id" : "index", key)
        .Int("offset", offset)
        .Int("count", count);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    auto& db = open->db->db;
    if (db.info.IsResourceDb()) return Reply::Error(kErrNotSupported);
    size_t index = db.records.size();
    if (byId) {
        for (size_t i = 0; i < db.records.size(); ++i) {
            if (db.records[i].uid == key) index = i;
        }
    } else {
        index = key;
    }
    if (index >= db.records.size()) return Reply::Error(kErrNotFound);
    const pdb::Record& rec = db.records[index];
    const size_t from = std::min<size_t>(offset, rec.data.size());
    const size_t n = std::min({rec.data.size() - from, size_t(count), ReplyRoom(r, 10)});
    CWriter w;
    w.U32(rec.uid).U16(static_cast<uint16_t>(index));
    w.U16(static_cast<uint16_t>(std::min<size_t>(rec.data.size(), 0xFFFF)));
    w.U8(rec.attributes).U8(rec.category).Bytes(rec.data.data() + from, n);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply WriteRecord(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8(), flags = in.U8();
    const uint32_t id = in.U32();
    uint8_t attributes = in.U8();
    const uint8_t category = in.U8();
    std::vector<uint8_t> data = in.Rest();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle)
        .Int("flags", flags)
        .Int("id", id)
        .Int("attributes", attributes)
        .Int("category", category)
        .Int("size", static_cast<int64_t>(data.size()));
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    auto& db = open->db->db;
    if (db.info.IsResourceDb()) return Reply::Error(kErrNotSupported);
    if (!(open->mode & kModeWrite)) return Reply::Error(kErrReadOnly);
    if (data.size() > kMaxEntrySize) return Reply::Error(kErrLimitExceeded);
    // Before DLP 1.1 only the secret bit may be set from the desktop.
    attributes &= r.Dlp() >= 0x0101 ? 0xD8 : 0x10;
    auto it = std::find_if(db.records.begin(), db.records.end(),
                           [id](const pdb::Record& rec) { return id != 0 && rec.uid == id; });
    const int64_t old = it == db.records.end() ? 0 : static_cast<int64_t>(it->data.size());
    if (uint16_t e = r.Reserve(static_cast<int64_t>(data.size()), old)) return Reply::Error(e);
    uint32_t uid = id & 0xFFFFFF;
    if (uid == 0) {
        uid = std::max<uint32_t>(db.info.uniqueIdSeed, 0x00F00000);
        for (const auto& rec : db.records) uid = std::max(uid, rec.uid);
        uid = (uid + 1) & 0xFFFFFF;
        db.info.uniqueIdSeed = uid;
    }
    pdb::Record rec;
    rec.data = std::move(data);
    rec.attributes = attributes;
    rec.category = category & 0x0F;
    rec.uid = uid;
    // A record written again under its id goes to the end, as on a recorded unit.
    if (r.LosesWrite()) {
        r.log.Bool("lost", true);
    } else {
        if (it != db.records.end()) db.records.erase(it);
        db.records.push_back(std::move(rec));
    }
    r.Modified(*open->db);
    r.log.Int("newId", uid);
    CWriter w;
    w.U32(uid);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply DeleteRecord(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8(), flags = in.U8();
    const uint32_t id = in.U32();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle).Int("flags", flags).Int("id", id);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    auto& recs = open->db->db.records;
    const size_t before = recs.size();
    int64_t freed = 0;
    std::erase_if(recs, [&](const pdb::Record& rec) {
        const bool hit = (flags & 0x80) || rec.uid == id;
        if (hit) freed += static_cast<int64_t>(rec.data.size());
        return hit;
    });
    if (recs.size() == before && !(flags & 0x80)) return Reply::Error(kErrNotFound);
    r.s.freeRam += freed;
    r.Modified(*open->db);
    return {};
}

Reply ReadResource(CRequest& r) {
    const Arg* byIndex = r.Get(kArg0);
    const Arg* byType = r.Get(kArg1);
    if (!byIndex && !byType) return Reply::Error(kErrArgMissing);
    CReader in(byIndex ? *byIndex : *byType);
    const uint8_t handle = in.U8();
    in.U8();
    uint32_t type = 0;
    uint16_t key = 0;
    if (byIndex) {
        key = in.U16();
    } else {
        type = in.U32();
        key = in.U16();
    }
    const uint16_t offset = in.U16(), count = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle);
    if (byType)
        r.log.FourCC("type", type).Int("id", key);
    else
        r.log.Int("index", key);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    auto& db = open->db->db;
    if (!db.info.IsResourceDb()) return Reply::Error(kErrNotSupported);
    size_t index = byIndex ? key : db.resources.size();
    for (size_t i = 0; byType && i < db.resources.size(); ++i) {
        if (db.resources[i].type == type && db.resources[i].id == key) {
            index = i;
            break;
        }
    }
    if (index >= db.resources.size()) return Reply::Error(kErrNotFound);
    const pdb::Resource& res = db.resources[index];
    const size_t from = std::min<size_t>(offset, res.data.size());
    const size_t n = std::min({res.data.size() - from, size_t(count), ReplyRoom(r, 10)});
    CWriter w;
    w.U32(res.type).U16(res.id).U16(static_cast<uint16_t>(index));
    w.U16(static_cast<uint16_t>(std::min<size_t>(res.data.size(), 0xFFFF)));
    w.Bytes(res.data.data() + from, n);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply WriteResource(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8();
    in.U8();
    const uint32_t type = in.U32();
    const uint16_t id = in.U16(), size = in.U16();
    // The size field cannot say 65,536; the argument's length can.
    std::vector<uint8_t> data = in.Rest();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle)
        .FourCC("type", type)
        .Int("id", id)
        .Int("sizeField", size)
        .Int("size", static_cast<int64_t>(data.size()));
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    auto& db = open->db->db;
    if (!db.info.IsResourceDb()) return Reply::Error(kErrNotSupported);
    if (!(open->mode & kModeWrite)) return Reply::Error(kErrReadOnly);
    if (data.size() > kMaxEntrySize) return Reply::Error(kErrLimitExceeded);
    auto it = std::find_if(db.resources.begin(), db.resources.end(), [&](const pdb::Resource& res) {
        return res.type == type && res.id == id;
    });
    const int64_t old = it == db.resources.end() ? 0 : static_cast<int64_t>(it->data.size());
    if (uint16_t e = r.Reserve(static_cast<int64_t>(data.size()), old)) return Reply::Error(e);
    pdb::Resource res;
    res.type = type;
    res.id = id;
    res.data = std::move(data);
    if (it != db.resources.end()) {
        *it = std::move(res);
    } else {
        if (r.LosesWrite()) {
            r.log.Bool("lost", true);
        } else {
            db.resources.push_back(std::move(res));
        }
    }
    r.Modified(*open->db);
    return {};
}

Reply DeleteResource(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8(), flags = in.U8();
    const uint32_t type = in.U32();
    const uint16_t id = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle).Int("flags", flags).FourCC("type", type).Int("id", id);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    auto& list = open->db->db.resources;
    const size_t before = list.size();
    int64_t freed = 0;
    std::erase_if(list, [&](const pdb::Resource& res) {
        const bool hit = (flags & 0x80) || (res.type == type && res.id == id);
        if (hit) freed += static_cast<int64_t>(res.data.size());
        return hit;
    });
    if (list.size() == before && !(flags & 0x80)) return Reply::Error(kErrNotFound);
    r.s.freeRam += freed;
    r.Modified(*open->db);
    return {};
}

// Requests that name only an open database.
Reply WithHandle(CRequest& r, const std::function<Reply(OpenDatabase&)>& body) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    return body(*open);
}

Reply ResetSyncFlags(CRequest& r) {
    return WithHandle(r, [&](OpenDatabase& open) {
        for (auto& rec : open.db->db.records) rec.attributes &= static_cast<uint8_t>(~0x40);
        open.db->db.info.attributes &= static_cast<uint16_t>(~pdb::kAttrAppInfoDirty);
        open.db->db.info.backupDate = r.s.Now();
        return Reply();
    });
}

// The next record changed since the last sync (dirty, deleted or archived, as a recorded
// unit counts them), in the layout of ReadRecord's answer.
Reply ReadNextModifiedRec(CRequest& r) {
    return WithHandle(r, [&](OpenDatabase& open) {
        auto& db = open.db->db;
        if (db.info.IsResourceDb()) return Reply::Error(kErrNotSupported);
        while (open.nextModified < db.records.size() &&
               !(db.records[open.nextModified].attributes & 0xC8)) {
            ++open.nextModified;
        }
        if (open.nextModified >= db.records.size()) return Reply::Error(kErrNotFound);
        const size_t index = open.nextModified++;
        const pdb::Record& rec = db.records[index];
        const size_t n = std::min(rec.data.size(), ReplyRoom(r, 10));
        CWriter w;
        w.U32(rec.uid).U16(static_cast<uint16_t>(index));
        w.U16(static_cast<uint16_t>(std::min<size_t>(rec.data.size(), 0xFFFF)));
        w.U8(rec.attributes).U8(rec.category).Bytes(rec.data.data(), n);
        return Reply().Add(kArg0, std::move(w.Data()));
    });
}

Reply CleanUpDatabase(CRequest& r) {
    return WithHandle(r, [&](OpenDatabase& open) {
        std::erase_if(open.db->db.records,
                      [](const pdb::Record& rec) { return (rec.attributes & 0x80) != 0; });
        return Reply();
    });
}

Reply ReadOpenDBInfo(CRequest& r) {
    return WithHandle(r, [&](OpenDatabase& open) {
        const auto& db = open.db->db;
        CWriter w;
        w.U16(static_cast<uint16_t>(db.info.IsResourceDb() ? db.resources.size()
                                                           : db.records.size()));
        return Reply().Add(kArg0, std::move(w.Data()));
    });
}

Reply ReadRecordIDList(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8(), flags = in.U8();
    const uint16_t start = in.U16(), max = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle).Int("flags", flags).Int("start", start).Int("max", max);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    const auto& recs = open->db->db.records;
    if (open->db->db.info.IsResourceDb()) return Reply::Error(kErrNotSupported);
    const size_t from = std::min<size_t>(start, recs.size());
    const size_t n = std::min<size_t>(recs.size() - from, max);
    CWriter w;
    w.U16(static_cast<uint16_t>(n));
    for (size_t i = from; i < from + n; ++i) w.U32(recs[i].uid);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply AddSyncLogEntry(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const std::string text = in.Str0();
    r.log.Text("text", text);
    r.s.syncLogText.push_back(text);
    return {};
}

Reply OpenConduit(CRequest& r) {
    return r.s.config.cancelSync ? Reply::Error(kErrCancelSync) : Reply();
}

Reply EndOfSync(CRequest& r) {
    if (const Arg* a = r.Get(kArg0)) {
        CReader in(*a);
        const uint16_t status = in.U16();
        if (in.Ok()) r.log.Int("status", status);
    }
    r.endOfSync = true;
    return {};
}

Reply ResetSystem(CRequest& r) {
    r.s.resetPending = true;
    return {};
}

Reply ReadFeature(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint32_t creator = in.U32();
    const uint16_t number = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.FourCC("creator", creator).Int("number", number);
    uint32_t value = 0;
    if (creator == kPsys && number == 1) {
        value = r.s.config.romVersion;
    } else if (creator == kPsys && number == 2) {
        value = r.s.config.cpuId;
    } else if (creator == kPsys && number == 7) {
        value = r.s.config.displayFeature;
    } else {
        return Reply::Error(kErrNotFound);
    }
    r.log.Int("value", value);
    CWriter w;
    w.U32(value);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply FindDB(CRequest& r) {
    const Arg* byName = r.Get(kArg0);
    const Arg* byHandle = r.Get(kArg1);
    const Arg* byType = r.Get(kArg2);
    CardDatabase* db = nullptr;
    uint8_t options = 0;
    uint8_t handle = 0;
    if (byHandle) {
        CReader in(*byHandle);
        options = in.U8();
        handle = in.U8();
        if (!in.Ok()) return Reply::Error(kErrArgSize);
        r.log.Int("options", options).Int("handle", handle);
        OpenDatabase* open = r.Handle(handle);
        if (!open) return Reply::Error(r.BadHandle());
        db = open->db;
    } else if (byName) {
        CReader in(*byName);
        options = in.U8();
        const uint8_t card = in.U8();
        const std::string name = in.Str0();
        if (!in.Ok()) return Reply::Error(kErrArgSize);
        r.log.Int("options", options).Int("card", card).Text("name", name);
        db = card == 0 ? r.s.Find(name) : nullptr;
    } else if (byType) {
        CReader in(*byType);
        options = in.U8();
        const uint8_t search = in.U8();
        const uint32_t type = in.U32(), creator = in.U32();
        if (!in.Ok()) return Reply::Error(kErrArgSize);
        r.log.Int("options", options)
            .Int("search", search)
            .FourCC("type", type)
            .FourCC("creator", creator);
        if (search & 0x80) r.s.findCursor = 0;
        for (size_t i = r.s.findCursor; i < r.s.dbs.size() && !db; ++i) {
            const auto& info = r.s.dbs[i]->db.info;
            if ((type == 0 || info.type == type) && (creator == 0 || info.creator == creator)) {
                db = r.s.dbs[i].get();
                r.s.findCursor = i + 1;
            }
        }
    } else {
        return Reply::Error(kErrArgMissing);
    }
    if (!db) return Reply::Error(kErrNotFound);
    r.log.Text("found", db->db.info.name);
    Reply reply;
    if (options & 0x80) {
        uint32_t openRef = 0;
        for (const auto& [h, o] : r.s.handles) {
            if (o.db == db && (handle == 0 || h == handle)) openRef = 0x3C00u + h;
        }
        CWriter w;
        w.U8(0).U8(0).U32(db->localId).U32(openRef);
        const auto info = r.DbInfo(*db, 0xFFFF);
        w.Bytes(info.data(), info.size());
        reply.Add(kArg0, std::move(w.Data()));
    }
    if (options & 0x60) {
        const auto& d = db->db;
        const bool res = d.info.IsResourceDb();
        uint32_t count = 0, data = 0, largest = 0;
        for (const auto& rec : d.records) {
            ++count;
            data += static_cast<uint32_t>(rec.data.size());
            largest = std::max(largest, static_cast<uint32_t>(rec.data.size()));
        }
        for (const auto& rs : d.resources) {
            ++count;
            data += static_cast<uint32_t>(rs.data.size());
            largest = std::max(largest, static_cast<uint32_t>(rs.data.size()));
        }
        // Header and entry overhead as a recorded unit reports it.
        const uint32_t total = 84 + data + count * (res ? 22 : 20);
        CWriter w;
        w.U32(count).U32(total).U32(data);
        w.U32(static_cast<uint32_t>(d.appInfo.size()))
            .U32(static_cast<uint32_t>(d.sortInfo.size()));
        w.U32((options & 0x20) && byHandle ? largest : 0);
        reply.Add(kArg1, std::move(w.Data()));
    }
    return reply;
}

// Changes the header of an open database: attribute bits cleared and set, and each other
// field that is given (a version or code of 0, a date of year 0, an empty name: unchanged).
Reply SetDBInfo(CRequest& r) {
    const Arg* a = r.Get(kArg0);
    if (!a) return Reply::Error(kErrArgMissing);
    CReader in(*a);
    const uint8_t handle = in.U8();
    in.U8();
    const uint16_t clearAttributes = in.U16(), setAttributes = in.U16(), version = in.U16();
    const int64_t created = in.Date(), modified = in.Date(), backedUp = in.Date();
    const uint32_t type = in.U32(), creator = in.U32();
    const std::string name = in.Str0();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("handle", handle)
        .Int("clear", clearAttributes)
        .Int("set", setAttributes)
        .Int("version", version)
        .Int("created", created)
        .Int("modified", modified)
        .Int("backedUp", backedUp)
        .Text("name", name);
    OpenDatabase* open = r.Handle(handle);
    if (!open) return Reply::Error(r.BadHandle());
    if (!(open->mode & kModeWrite)) return Reply::Error(kErrReadOnly);
    if (name.size() > pdb::kMaxNameLength) return Reply::Error(kErrParam);
    if (!name.empty() && name != open->db->db.info.name && r.s.Find(name)) {
        return Reply::Error(kErrAlreadyExists);
    }
    auto& info = open->db->db.info;
    // What kind of database it is, and whether it is open, are not the caller's to change.
    const uint16_t fixed = pdb::kAttrResDb | kAttrOpenDb;
    info.attributes = static_cast<uint16_t>((info.attributes & ~(clearAttributes & ~fixed)) |
                                            (setAttributes & ~fixed));
    if (version != 0) info.version = version;
    if (created != 0) info.createDate = created;
    if (modified != 0) info.modifyDate = modified;
    if (backedUp != 0) info.backupDate = backedUp;
    if (type != 0) info.type = type;
    if (creator != 0) info.creator = creator;
    if (!name.empty()) info.name = name;
    return {};
}

// ---- Expansion cards and VFS (0x3C ... 0x5C) -------------------------------------------
// As a Palm OS 4/5 unit answers them while reporting DLP 1.2: one slot (slot 1) holding the
// card, whose one volume is volume 1. A ROM before 4.0 has no expansion manager.

constexpr uint32_t kRom40 = 0x04000000;
constexpr uint16_t kSlotRef = 1;
constexpr uint16_t kVolRef = 1;
constexpr uint32_t kVolumeSlotBased = 0x1, kVolumeReadOnly = 0x2;
constexpr uint32_t kFsVfat = 0x76666174;           // 'vfat'
constexpr uint32_t kFsCreator = 0x66617466;        // 'fatf'
constexpr uint32_t kMountSlotDriver = 0x6C696273;  // 'libs'
constexpr uint32_t kMediaSd = 0x73646967;          // 'sdig'
constexpr uint16_t kSlotLibRef = 7;

// Expansion and VFS error classes, and how volume results read on the wire.
enum : uint16_t {
    kExpCardNotPresent = 0x2903,
    kExpInvalidSlot = 0x2904,
    kExpEnumerationEmpty = 0x290D,
    kVfsFileBadRef = 0x2A03,
    kVfsFileStillOpen = 0x2A04,
    kVfsPermissionDenied = 0x2A05,
    kVfsVolumeBadRef = 0x2A09,
    kVfsDirNotEmpty = 0x2A0D,
    kVfsBadName = 0x2A0E,
    kVfsVolumeFull = 0x2A0F,
    kVfsNotADirectory = 0x2A11,
    kVfsIsADirectory = 0x2A12,
    kVfsDirectoryNotFound = 0x2A13,
};

// The answer for each volume result; the DLP server maps the VFS "not found" and "already
// exists" to its own codes.
constexpr std::pair<CardResult, uint16_t> kCardErrors[] = {
    {CardResult::kOk, kErrNone},
    {CardResult::kNotFound, kErrNotFound},
    {CardResult::kAlreadyExists, kErrAlreadyExists},
    {CardResult::kBadName, kVfsBadName},
    {CardResult::kDirNotFound, kVfsDirectoryNotFound},
    {CardResult::kNotADirectory, kVfsNotADirectory},
    {CardResult::kIsADirectory, kVfsIsADirectory},
    {CardResult::kDirNotEmpty, kVfsDirNotEmpty},
    {CardResult::kStillOpen, kVfsFileStillOpen},
    {CardResult::kReadOnly, kVfsPermissionDenied},
    {CardResult::kBadRef, kVfsFileBadRef},
    {CardResult::kFull, kVfsVolumeFull},
    {CardResult::kPulled, kVfsVolumeBadRef},
};

uint16_t CardError(CardResult result) {
    for (const auto& [from, error] : kCardErrors) {
        if (from == result) return error;
    }
    return kErrSystem;
}

bool HasExpansion(const CRequest& r) {
    return r.s.config.romVersion >= kRom40;
}

// The card in the slot, or null when there is none (never was, or pulled).
CCardVolume* Card(CRequest& r) {
    return r.s.card && !r.s.card->Pulled() ? r.s.card.get() : nullptr;
}

// The argument of a card request; false (with the error in reply) when it is missing.
bool CardArg(CRequest& r, Reply& reply, const Arg*& arg) {
    if (!HasExpansion(r)) {
        reply = Reply::Error(kErrIllegalReq);
        return false;
    }
    arg = r.Get(kArg0);
    if (!arg) reply = Reply::Error(kErrArgMissing);
    return arg != nullptr;
}

Reply RefList(uint16_t ref) {
    CWriter w;
    w.U16(1).U16(ref);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply ExpSlotEnumerate(CRequest& r) {
    if (!HasExpansion(r)) return Reply::Error(kErrIllegalReq);
    return RefList(kSlotRef);
}

Reply ExpCardPresent(CRequest& r) {
    Reply reply;
    const Arg* a = nullptr;
    if (!CardArg(r, reply, a)) return reply;
    CReader in(*a);
    const uint16_t slot = in.U16();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("slot", slot);
    if (slot != kSlotRef) return Reply::Error(kExpInvalidSlot);
    return Card(r) ? Reply() : Reply::Error(kExpCardNotPresent);
}

Reply VolumeEnumerate(CRequest& r) {
    if (!HasExpansion(r)) return Reply::Error(kErrIllegalReq);
    return Card(r) ? RefList(kVolRef) : Reply::Error(kExpEnumerationEmpty);
}

// Requests that name the volume first: the card, or the error to answer.
CCardVolume* Volume(CRequest& r, CReader& in, Reply& reply) {
    const uint16_t volume = in.U16();
    r.log.Int("volume", volume);
    if (!in.Ok()) {
        reply = Reply::Error(kErrArgSize);
        return nullptr;
    }
    CCardVolume* card = Card(r);
    if (!card || volume != kVolRef) reply = Reply::Error(kVfsVolumeBadRef);
    return volume == kVolRef ? card : nullptr;
}

// VFSVolumeInfo, VFSVolumeGetLabel and VFSVolumeSize: the volume alone, a figure or text out.
template <class Answer>
Reply VolumeRequest(CRequest& r, Answer answer) {
    Reply reply;
    const Arg* a = nullptr;
    if (!CardArg(r, reply, a)) return reply;
    CReader in(*a);
    CCardVolume* card = Volume(r, in, reply);
    if (!card) return reply;
    CWriter w;
    answer(*card, w);
    return Reply().Add(kArg0, std::move(w.Data()));
}

Reply VolumeInfo(CRequest& r) {
    return VolumeRequest(r, [](const CCardVolume& card, CWriter& w) {
        w.U32(kVolumeSlotBased | (card.ReadOnly() ? kVolumeReadOnly : 0))
            .U32(kFsVfat)
            .U32(kFsCreator)
            .U32(kMountSlotDriver)
            .U16(kSlotLibRef)
            .U16(kSlotRef)
            .U32(kMediaSd)
            .U32(0);
    });
}

Reply VolumeGetLabel(CRequest& r) {
    return VolumeRequest(r, [](const CCardVolume& card, CWriter& w) { w.Str0(card.Label()); });
}

Reply VolumeSize(CRequest& r) {
    return VolumeRequest(r, [](const CCardVolume& card, CWriter& w) {
        w.U32(static_cast<uint32_t>(card.Used())).U32(static_cast<uint32_t>(card.Size()));
    });
}

// VFSFileCreate, VFSFileDelete and VFSDirCreate: a volume and a path.
Reply PathRequest(CRequest& r, CardResult (CCardVolume::*operation)(const std::string&)) {
    Reply reply;
    const Arg* a = nullptr;
    if (!CardArg(r, reply, a)) return reply;
    CReader in(*a);
    CCardVolume* card = Volume(r, in, reply);
    const std::string path = in.Str0();
    r.log.Text("path", path);
    if (!card) return reply;
    return Reply::Error(CardError((card->*operation)(path)));
}

Reply FileOpen(CRequest& r) {
    Reply reply;
    const Arg* a = nullptr;
    if (!CardArg(r, reply, a)) return reply;
    CReader in(*a);
    CCardVolume* card = Volume(r, in, reply);
    const uint16_t mode = in.U16();
    const std::string path = in.Str0();
    if (!in.Ok()) return Reply::Error(kErrArgSize);
    r.log.Int("mode", mode).Text("path", path);
    if (!card) return reply;
    uint32_t ref = 0;
    const CardResult result = card->Open(path, mode, ref);
    if (result != CardResult::kOk) return Reply::Error(CardError(result));
    r.log.Int("fileRef", ref);
    CWriter w;
    w.U32(ref);
    return Reply().Add(kArg0, std::move(w.Data()));
}

// Requests that name an open file first. A pulled card has taken its references along.
bool FileRefArg(CRequest& r, Reply& reply, CReader& in, uint32_t& ref) {
    ref = in.U32();
    if (!in.Ok()) {
        reply = Reply::Error(kErrArgSize);
        return false;
    }
    r.log.Int("fileRef", ref);
    if (!r.s.card) {
        reply = Reply::Error(kVfsFileBadRef);
        return false;
    }
    return true;
}

// Requests that name an open file first; act(in, ref) reads the rest and answers.
template <class Act>
Reply WithFileRef(CRequest& r, Act act) {
    Reply reply;
    const Arg* a = nullptr;
    if (!CardArg(r, reply, a)) return reply;
    CReader in(*a);
    uint32_t ref = 0;
    if (!FileRefArg(r, reply, in, ref)) return reply;
    return act(in, ref);
}

// VFSFileClose, VFSFileSize, VFSFileGetAttributes: a reference in, maybe a figure out.
Reply FileRefRequest(CRequest& r, CardResult (*operation)(CCardVolume&, uint32_t, uint32_t&),
                     bool answers) {
    return WithFileRef(r, [&](CReader&, uint32_t ref) {
        uint32_t value = 0;
        const CardResult result = operation(*r.s.card, ref, value);
        if (result != CardResult::kOk) return Reply::Error(CardError(result));
        if (!answers) return Reply();
        CWriter w;
        w.U32(value);
        return Reply().Add(kArg0, std::move(w.Data()));
    });
}

// VFSFileWrite and VFSFileResize: a reference and a length.
template <class Act>
Reply FileRefAndLength(CRequest& r, const char* name, Act act) {
    return WithFileRef(r, [&](CReader& in, uint32_t ref) {
        const uint32_t length = in.U32();
        if (!in.Ok()) return Reply::Error(kErrArgSize);
        r.log.Int(name, length);
        return act(ref, length);
    });
}

Reply FileWrite(CRequest& r) {
    return FileRefAndLength(r, "length", [&r](uint32_t ref, uint32_t length) {
        const CardResult result = r.s.card->CanWrite(ref);
        if (result != CardResult::kOk) return Reply::Error(CardError(result));
        // The data follows as a message of its own; this answer carries no argument.
        r.s.pendingWrite = {true, ref, length};
        return Reply();
    });
}

Reply FileResize(CRequest& r) {
    return FileRefAndLength(r, "size", [&r](uint32_t ref, uint32_t size) {
        return Reply::Error(CardError(r.s.card->Resize(ref, size)));
    });
}

// The data message of a VFSFileWrite: as much as fits is written, and the answer under the
// write's code says how much. A card that fills keeps what fit and answers "volume full";
// one pulled in the middle takes what it got, and the next request finds it gone.
std::vector<uint8_t> WriteData(CVirtualHandheld::State& s, const std::vector<uint8_t>& data,
                               RequestLogEntry& entry) {
    const auto pending = s.pendingWrite;
    s.pendingWrite = {};
    entry.function = 0x46;
    entry.name = "VFSFileWriteData";
    size_t size = data.size();
    CJson log;
    log.Int("fileRef", pending.fileRef).Int("bytes", static_cast<int64_t>(size));
    uint64_t room = UINT64_MAX;
    if (s.config.fullAfterBytes >= 0) {
        // The card fills as the memory does, after as many bytes on it.
        room = static_cast<uint64_t>(std::max<int64_t>(0, s.config.fullAfterBytes - s.cardBytes));
    }
    bool pull = false;
    if (s.config.cardPullAfterBytes >= 0 &&
        s.cardBytes + static_cast<int64_t>(size) >= s.config.cardPullAfterBytes) {
        size = static_cast<size_t>(std::max<int64_t>(0, s.config.cardPullAfterBytes - s.cardBytes));
        pull = true;
    }
    uint32_t written = 0;
    const CardResult result = s.card && !s.card->Pulled()
                                  ? s.card->Write(pending.fileRef, data.data(), size, room, written)
                                  : CardResult::kPulled;
    s.cardBytes += written;
    if (pull && s.card) {
        s.card->Pull();
        log.Bool("cardPulled", true);
    }
    log.Int("written", written);
    entry.argsJson = log.Str();
    Reply reply;
    if (result != CardResult::kOk) {
        reply = Reply::Error(CardError(result));
    } else {
        CWriter w;
        w.U32(written);
        reply.Add(kArg0, std::move(w.Data()));
    }
    entry.result = reply.error;
    return EncodeReply(0x46, reply);
}

struct Handler {
    uint8_t code;
    const char* name;
    uint16_t minVersion;
    HandlerFn fn;
};

const std::vector<Handler>& Handlers() {
    static const std::vector<Handler> handlers = {
        {0x10, "ReadUserInfo", 0x0100, ReadUserInfo},
        {0x11, "WriteUserInfo", 0x0100, WriteUserInfo},
        {0x12, "ReadSysInfo", 0x0100, ReadSysInfo},
        {0x13, "GetSysDateTime", 0x0100, GetSysDateTime},
        {0x14, "SetSysDateTime", 0x0100, SetSysDateTime},
        {0x15, "ReadStorageInfo", 0x0100, ReadStorageInfo},
        {0x16, "ReadDBList", 0x0100, ReadDBList},
        {0x17, "OpenDB", 0x0100, OpenDB},
        {0x18, "CreateDB", 0x0100, CreateDB},
        {0x19, "CloseDB", 0x0100, CloseDB},
        {0x1A, "DeleteDB", 0x0100, DeleteDB},
        {0x1B, "ReadAppBlock", 0x0100, [](CRequest& r) { return ReadBlock(r, false); }},
        {0x1C, "WriteAppBlock", 0x0100, [](CRequest& r) { return WriteBlock(r, false); }},
        {0x1D, "ReadSortBlock", 0x0100, [](CRequest& r) { return ReadBlock(r, true); }},
        {0x1E, "WriteSortBlock", 0x0100, [](CRequest& r) { return WriteBlock(r, true); }},
        {0x1F, "ReadNextModifiedRec", 0x0100, ReadNextModifiedRec},
        {0x20, "ReadRecord", 0x0100, ReadRecord},
        {0x21, "WriteRecord", 0x0100, WriteRecord},
        {0x22, "DeleteRecord", 0x0100, DeleteRecord},
        {0x23, "ReadResource", 0x0100, ReadResource},
        {0x24, "WriteResource", 0x0100, WriteResource},
        {0x25, "DeleteResource", 0x0100, DeleteResource},
        {0x26, "CleanUpDatabase", 0x0100, CleanUpDatabase},
        {0x27, "ResetSyncFlags", 0x0100, ResetSyncFlags},
        {0x29, "ResetSystem", 0x0100, ResetSystem},
        {0x2A, "AddSyncLogEntry", 0x0100, AddSyncLogEntry},
        {0x2B, "ReadOpenDBInfo", 0x0100, ReadOpenDBInfo},
        {0x2E, "OpenConduit", 0x0100, OpenConduit},
        {0x2F, "EndOfSync", 0x0100, EndOfSync},
        {0x30, "ResetRecordIndex", 0x0100,
         [](CRequest& r) {
             return WithHandle(r, [](OpenDatabase& open) {
                 open.nextModified = 0;
                 return Reply();
             });
         }},
        {0x31, "ReadRecordIDList", 0x0100, ReadRecordIDList},
        {0x36, "ReadNetSyncInfo", 0x0101, ReadNetSyncInfo},
        {0x37, "WriteNetSyncInfo", 0x0101, WriteNetSyncInfo},
        {0x38, "ReadFeature", 0x0101, ReadFeature},
        {0x39, "FindDB", 0x0102, FindDB},
        {0x3A, "SetDBInfo", 0x0102, SetDBInfo},
        {0x3C, "ExpSlotEnumerate", 0x0102, ExpSlotEnumerate},
        {0x3D, "ExpCardPresent", 0x0102, ExpCardPresent},
        {0x43, "VFSFileCreate", 0x0102,
         [](CRequest& r) { return PathRequest(r, &CCardVolume::CreateFile); }},
        {0x44, "VFSFileOpen", 0x0102, FileOpen},
        {0x45, "VFSFileClose", 0x0102,
         [](CRequest& r) {
             return FileRefRequest(
                 r, [](CCardVolume& c, uint32_t ref, uint32_t&) { return c.Close(ref); }, false);
         }},
        {0x46, "VFSFileWrite", 0x0102, FileWrite},
        {0x48, "VFSFileDelete", 0x0102,
         [](CRequest& r) { return PathRequest(r, &CCardVolume::Delete); }},
        {0x4C, "VFSFileGetAttributes", 0x0102,
         [](CRequest& r) {
             return FileRefRequest(
                 r, [](CCardVolume& c, uint32_t ref, uint32_t& v) { return c.Attributes(ref, v); },
                 true);
         }},
        {0x50, "VFSDirCreate", 0x0102,
         [](CRequest& r) { return PathRequest(r, &CCardVolume::CreateDirectory); }},
        {0x55, "VFSVolumeEnumerate", 0x0102, VolumeEnumerate},
        {0x56, "VFSVolumeInfo", 0x0102, VolumeInfo},
        {0x57, "VFSVolumeGetLabel", 0x0102, VolumeGetLabel},
        {0x59, "VFSVolumeSize", 0x0102, VolumeSize},
        {0x5B, "VFSFileResize", 0x0102, FileResize},
        {0x5C, "VFSFileSize", 0x0102,
         [](CRequest& r) {
             return FileRefRequest(
                 r, [](CCardVolume& c, uint32_t ref, uint32_t& v) { return c.FileSize(ref, v); },
                 true);
         }},
    };
    return handlers;
}

const Handler* FindHandler(uint8_t code) {
    for (const Handler& h : Handlers()) {
        if (h.code == code) return &h;
    }
    return nullptr;
}

std::string FunctionName(uint8_t code, const std::vector<uint8_t>& msg) {
    const Handler* h = FindHandler(code);
    std::string name = h ? h->name : "Function0x" + [code] {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", code);
        return std::string(buf);
    }();
    // The alternative argument forms are told apart in the log.
    const uint8_t firstArg = msg.size() > 2 && msg[1] > 0 ? (msg[2] & 0x3F) : 0;
    if (code == 0x20) name = firstArg == kArg1 ? "ReadRecordByIndex" : "ReadRecordById";
    if (code == 0x23) name = firstArg == kArg1 ? "ReadResourceByType" : "ReadResourceByIndex";
    return name;
}

}  // namespace

std::vector<uint8_t> CDlpServer::Handle(const std::vector<uint8_t>& request, bool& endOfSync) {
    endOfSync = false;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    RequestLogEntry entry;
    entry.sync = m_state.currentSync;
    if (m_state.pendingWrite.active) {
        // The data of a card write, whatever its first bytes look like.
        std::vector<uint8_t> reply = WriteData(m_state, request, entry);
        m_state.log.push_back(entry);
        return reply;
    }
    if (request.size() < 2) {
        // Too short to name a function: answer as a bad request of function 0.
        entry.name = "Malformed";
        entry.argsJson = "{}";
        entry.result = kErrArgMissing;
        m_state.log.push_back(entry);
        return EncodeReply(request.empty() ? 0 : request[0] & 0x7F, Reply::Error(kErrArgMissing));
    }
    const uint8_t code = request[0] & 0x7F;
    entry.function = code;
    entry.name = FunctionName(code, request);
    Reply reply;
    std::vector<Arg> args;
    CRequest r(m_state, args);
    const Handler* h = FindHandler(code);
    if (!h || m_state.config.dlpVersion < h->minVersion) {
        reply = Reply::Error(kErrIllegalReq);
    } else if (uint16_t e = ParseArgs(request, m_state.config.dlpVersion, args)) {
        reply = Reply::Error(e);
    } else {
        reply = h->fn(r);
        endOfSync = r.endOfSync;
    }
    entry.argsJson = r.log.Str();
    entry.result = reply.error;
    m_state.log.push_back(entry);
    std::vector<uint8_t> answer = EncodeReply(code, reply);
    if (m_state.config.reviseAnswer) m_state.config.reviseAnswer(request, answer);
    return answer;
}

void CDlpServer::LogDropped(const std::vector<uint8_t>& request) {
    std::lock_guard<std::mutex> lock(m_state.mutex);
    RequestLogEntry entry;
    entry.sync = m_state.currentSync;
    entry.function = request.empty() ? 0 : request[0] & 0x7F;
    entry.name = FunctionName(entry.function, request);
    entry.argsJson = CJson().Bool("droppedForMemory", true).Str();
    entry.result = -1;
    m_state.log.push_back(entry);
}

int64_t CDlpServer::WriteDataSize(const uint8_t* data, size_t size, uint32_t total) {
    if (size < 4 || data[1] < 1) return -1;
    size_t fixed = 0;
    switch (data[0]) {
        case 0x1C:  // WriteAppBlock
        case 0x1E:  // WriteSortBlock
            fixed = 4;
            break;
        case 0x21:  // WriteRecord
            fixed = 8;
            break;
        case 0x24:  // WriteResource
            fixed = 10;
            break;
        default:
            return -1;
    }
    size_t header = 2;
    if ((data[2] & 0xC0) == 0x80) header = 4;
    if ((data[2] & 0xC0) == 0x40) header = 6;
    const size_t overhead = 2 + header + fixed;
    return total > overhead ? static_cast<int64_t>(total - overhead) : 0;
}

int64_t CDlpServer::IncomingWriteSize(const uint8_t* data, size_t size, uint32_t total) const {
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        if (m_state.pendingWrite.active) return -1;
    }
    return WriteDataSize(data, size, total);
}

bool CDlpServer::IsMemoryFull(int64_t dataBytes) const {
    if (dataBytes < 0 || m_state.config.fullAfterBytes < 0) return false;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    return m_state.bytesStored + dataBytes > m_state.config.fullAfterBytes;
}

}  // namespace handheld
