#include "tests/viewer/palm_emulator.h"

#include <unicorn/unicorn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace viewer_test {
namespace {

// Memory map of the emulated handheld.
constexpr uint32_t kLowBase = 0x000000, kLowSize = 0x10000;  // vectors; the return stop
constexpr uint32_t kReturnAddress = 0x00F000;                // PilotMain returns here
constexpr uint32_t kCodeBase = 0x010000, kCodeSize = 0x20000;
constexpr uint32_t kStackBase = 0x070000, kStackSize = 0x10000;
constexpr uint32_t kHeapBase = 0x100000, kHeapSize = 0x400000;
constexpr uint32_t kResourceBase = 0x1000000;  // each resource on own pages
constexpr uint32_t kHandleBase = 0x3000000;    // unmapped: handles are no pointers
constexpr uint32_t kFormBase = 0x3800000;      // unmapped too
constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kEventSize = 24;

constexpr uint32_t kRunMicroseconds = 60u * 1000 * 1000;
constexpr uint32_t kGarbage = 0xDEADBEEF;

uint32_t FourCC(const std::string& s) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

// How the system reads a call's arguments and returns its result, after the prototypes
// of the Palm OS SDK. Arguments, first to last from the stack pointer up: 'b' one byte,
// which occupies a 2-byte slot and is read from the slot's first (high-order) byte; 'w'
// two bytes; 'l' four bytes (32-bit values and pointers). Result: 'v' none, 'b' in the
// low byte of D0, 'w' in the low word of D0, 'l' in D0, 'p' a pointer in A0.
struct TrapSignature {
    uint16_t number;
    const char* name;
    uint32_t since;  // the system version that brought the call
    char result;
    const char* args;
};

constexpr uint32_t kSystem30 = 0x03000000, kSystem35 = 0x03500000;

constexpr TrapSignature kTraps[] = {
    {0xA00B, "MemHeapFreeBytes", 0, 'w', "wll"},  // (UInt16 heapID, UInt32*, UInt32*)
    {0xA012, "MemChunkFree", 0, 'w', "l"},        // (MemPtr)
    {0xA013, "MemPtrNew", 0, 'p', "l"},           // (UInt32 size)
    {0xA021, "MemHandleLock", 0, 'p', "l"},       // (MemHandle)
    {0xA022, "MemHandleUnlock", 0, 'w', "l"},     // (MemHandle)
    {0xA02D, "MemHandleSize", 0, 'l', "l"},       // (MemHandle)
    {0xA05F, "DmGetResource", 0, 'p', "lw"},      // (DmResType, DmResID)
    {0xA061, "DmReleaseResource", 0, 'w', "l"},   // (MemHandle)
    {0xA08F, "SysAppStartup", 0, 'w', "lll"},     // (SysAppInfoPtr*, MemPtr*, MemPtr*)
    {0xA090, "SysAppExit", 0, 'w', "lll"},        // (SysAppInfoPtr, MemPtr, MemPtr)
    {0xA0A9, "SysHandleEvent", 0, 'b', "l"},      // Boolean (EventPtr)
    {0xA11D, "EvtGetEvent", 0, 'v', "ll"},        // (EventType*, Int32 timeout)
    {0xA16F, "FrmInitForm", 0, 'p', "w"},         // (UInt16 rscID)
    {0xA170, "FrmDeleteForm", 0, 'v', "l"},       // (FormType*)
    {0xA171, "FrmDrawForm", 0, 'v', "l"},         // (FormType*)
    {0xA174, "FrmSetActiveForm", 0, 'v', "l"},    // (FormType*)
    {0xA192, "FrmAlert", 0, 'w', "w"},            // UInt16 (UInt16 alertId)
    {0xA193, "FrmDoDialog", 0, 'w', "l"},         // UInt16 (FormType*)
    {0xA206, "WinEraseWindow", 0, 'v', ""},
    {0xA20B, "WinGetDisplayExtent", 0, 'v', "ll"},  // (Coord*, Coord*)
    {0xA226, "WinDrawBitmap", 0, 'v', "lww"},       // (BitmapPtr, Coord x, Coord y)
    {0xA27B, "FtrGet", 0, 'w', "lwl"},              // (UInt32 creator, UInt16, UInt32*)
    // (WinScreenModeOperation, UInt32* width, UInt32* height, UInt32* depth, Boolean* color)
    {0xA33E, "WinScreenMode", kSystem30, 'w', "bllll"},
    // (UInt8 operation, Int16 startIndex, UInt16 paletteEntries, RGBColorType* table)
    {0xA39D, "WinPalette", kSystem35, 'w', "bwwl"},
};

const TrapSignature* FindTrap(uint16_t number) {
    for (const TrapSignature& t : kTraps) {
        if (t.number == number) return &t;
    }
    return nullptr;
}

// Error codes the doubles answer with.
constexpr uint32_t kErrParam = 0x0502, kErrNoFeature = 0x0C02;

// WinScreenMode operations and WinPalette operations, in the system's numbering.
enum { kModeGetDefaults, kModeGet, kModeSetToDefaults, kModeSet, kModeGetDepths, kModeGetColor };
enum { kPaletteGet, kPaletteSet, kPaletteSetToDefault };

// Stands in for the system's default 8-bit palette: the 216-colour cube, then greys and
// black; 256 entries of index, r, g, b.
std::vector<uint8_t> DefaultPalette() {
    std::vector<uint8_t> p(1024, 0);
    for (int i = 0; i < 256; ++i) {
        uint8_t r = 0, g = 0, b = 0;
        if (i < 216) {
            r = uint8_t(0xFF - 0x33 * (i / 36));
            b = uint8_t(0xFF - 0x33 * (i / 6 % 6));
            g = uint8_t(0xFF - 0x33 * (i % 6));
        } else if (i < 232) {
            r = g = b = uint8_t(0x11 * (i - 216));
        }
        p[size_t(4 * i)] = uint8_t(i);
        p[size_t(4 * i + 1)] = r;
        p[size_t(4 * i + 2)] = g;
        p[size_t(4 * i + 3)] = b;
    }
    return p;
}

}  // namespace

CPalmEmulator::CPalmEmulator(DeviceConfig config)
    : m_config(config),
      m_palette(DefaultPalette()),
      m_screen(size_t(kScreen) * kScreen, 0),
      m_depth(config.defaultDepth) {}

CPalmEmulator::~CPalmEmulator() {
    if (m_uc) uc_close(m_uc);
}

void CPalmEmulator::AddResource(const std::string& type, uint16_t id, std::vector<uint8_t> data) {
    Resource r;
    r.type = type;
    r.id = id;
    r.data = std::move(data);
    r.handle = kHandleBase + uint32_t(m_resources.size() + 1) * 16;
    m_resources.push_back(std::move(r));
}

void CPalmEmulator::Error(const std::string& text) {
    m_errors.push_back(text);
}

uint8_t CPalmEmulator::Read8(uint32_t address) {
    uint8_t b = 0;
    if (uc_mem_read(m_uc, address, &b, 1) != UC_ERR_OK) Error("read of unmapped " + Hex(address));
    return b;
}
uint16_t CPalmEmulator::Read16(uint32_t address) {
    return uint16_t((Read8(address) << 8) | Read8(address + 1));
}
uint32_t CPalmEmulator::Read32(uint32_t address) {
    return (uint32_t(Read16(address)) << 16) | Read16(address + 2);
}
void CPalmEmulator::Write16(uint32_t address, uint16_t v) {
    const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    if (uc_mem_write(m_uc, address, b, 2) != UC_ERR_OK) Error("write to unmapped " + Hex(address));
}
void CPalmEmulator::Write32(uint32_t address, uint32_t v) {
    Write16(address, uint16_t(v >> 16));
    Write16(address + 2, uint16_t(v));
}

// A bump allocator: freed blocks are not reused, so a use after free reads stale data
// at worst, and every block's address stays unique for the leak check.
uint32_t CPalmEmulator::Allocate(uint32_t size) {
    const uint32_t rounded = (size + 3u) & ~3u;
    if (size == 0 || m_heapTop + rounded > kHeapBase + kHeapSize) return 0;
    const uint32_t at = m_heapTop;
    m_heapTop += rounded;
    // Fresh chunks hold garbage on the handheld too.
    std::vector<uint8_t> fill(rounded, 0xA5);
    uc_mem_write(m_uc, at, fill.data(), fill.size());
    m_blocks[at] = size;
    return at;
}

CPalmEmulator::Resource* CPalmEmulator::ByHandle(uint32_t handle) {
    for (Resource& r : m_resources) {
        if (r.handle == handle) return &r;
    }
    Error("not a resource handle: " + Hex(handle));
    return nullptr;
}

void CPalmEmulator::Clear(uint8_t value) {
    std::fill(m_screen.begin(), m_screen.end(), value);
}

// The screen's palette index nearest to each colour of a bitmap's colour table: an
// exact match where there is one, the first of equals.
std::vector<uint8_t> CPalmEmulator::ColorMatch(const std::vector<uint8_t>& sourceTable) const {
    std::vector<uint8_t> map(256);
    for (size_t i = 0; i < 256; ++i) {
        map[i] = uint8_t(i);
        if (4 * i + 3 >= sourceTable.size()) continue;
        int best = -1;
        for (size_t j = 0; j < 256; ++j) {
            int d = 0;
            for (size_t c = 1; c < 4; ++c) {
                const int diff = int(sourceTable[4 * i + c]) - int(m_palette[4 * j + c]);
                d += diff * diff;
            }
            if (best < 0 || d < best) {
                best = d;
                map[i] = uint8_t(j);
            }
            if (d == 0) break;
        }
    }
    return map;
}

// Bitmap header: width, height, rowBytes, flags, pixelSize, version, nextDepthOffset, then
// (version 2) transparentIndex, compressionType, reserved; 16 bytes. With the
// hasColorTable flag a colour table follows: its entry count, then index, r, g, b each;
// the bits come after it.
void CPalmEmulator::DrawBitmap(uint32_t bitmap, int16_t x, int16_t y) {
    constexpr uint16_t kHasColorTable = 0x4000;
    const int16_t width = int16_t(Read16(bitmap));
    const int16_t height = int16_t(Read16(bitmap + 2));
    const uint16_t rowBytes = Read16(bitmap + 4);
    const uint16_t flags = Read16(bitmap + 6);
    const uint8_t version = Read8(bitmap + 9);
    const uint32_t depth = version == 0 ? 1 : Read8(bitmap + 8);
    m_draws.push_back({x, y, width, height});
    if (version > 2 || (flags & ~kHasColorTable) != 0 || (flags != 0 && version == 0)) {
        Error("bitmap version or flags not supported here");
        return;
    }
    if (version == 2 && m_config.romVersion < kSystem35) {
        Error("version 2 bitmap before system 3.5");
        return;
    }
    if (depth != m_depth) {
        Error("bitmap of depth " + std::to_string(depth) + " on a screen of depth " +
              std::to_string(m_depth));
        return;
    }
    if (width <= 0 || height <= 0 || rowBytes % 2 != 0 ||
        uint32_t(rowBytes) * 8 < uint32_t(width) * depth) {
        Error("bitmap header inconsistent");
        return;
    }
    uint32_t bitsAt = bitmap + 16;
    std::vector<uint8_t> table;
    if (flags & kHasColorTable) {
        const uint16_t entries = Read16(bitsAt);
        if (entries > (1u << depth)) {
            Error("colour table of " + std::to_string(entries) + " entries at depth " +
                  std::to_string(depth));
            return;
        }
        table.resize(size_t(entries) * 4);
        if (!table.empty() && uc_mem_read(m_uc, bitsAt + 2, table.data(), table.size()) != 0) {
            Error("colour table unreadable");
            return;
        }
        bitsAt += 2 + uint32_t(table.size());
    }
    std::vector<uint8_t> bits(size_t(rowBytes) * size_t(height));
    if (uc_mem_read(m_uc, bitsAt, bits.data(), bits.size()) != UC_ERR_OK) {
        Error("bitmap bits unreadable");
        return;
    }
    // What each bitmap value becomes on the screen.
    std::vector<uint8_t> map(256);
    for (size_t i = 0; i < map.size(); ++i) map[i] = uint8_t(i);
    if (depth == 8 && m_config.matchColors) {
        const std::vector<uint8_t> source = table.empty() ? DefaultPalette() : table;
        if (source != m_matchSource || m_palette != m_matchPalette) {
            m_matchSource = source;
            m_matchPalette = m_palette;
            m_matchMap = ColorMatch(source);
        }
        map = m_matchMap;
    }
    const uint32_t perByte = 8 / depth;
    for (int r = 0; r < height; ++r) {
        const int sy = y + r;
        if (sy < 0 || sy >= kScreen) continue;
        for (int c = 0; c < width; ++c) {
            const int sx = x + c;
            if (sx < 0 || sx >= kScreen) continue;
            const uint8_t byte = bits[size_t(r) * rowBytes + size_t(c) / perByte];
            const uint32_t shift = 8 - depth * (uint32_t(c) % perByte + 1);
            m_screen[size_t(sy) * kScreen + size_t(sx)] =
                map[(byte >> shift) & ((1u << depth) - 1)];
        }
    }
}

void CPalmEmulator::OnInterrupt(uc_engine* uc, uint32_t intno, void* user) {
    auto* self = static_cast<CPalmEmulator*>(user);
    uint32_t pc = 0;
    uc_reg_read(uc, UC_M68K_REG_PC, &pc);
    if (intno != 47) {
        self->Error("CPU exception " + std::to_string(intno) + " at " + Hex(pc));
        self->m_fatal = true;
        uc_emu_stop(uc);
        return;
    }
    const uint16_t number = self->Read16(pc + 2);
    ++self->m_trapCount;
    // The system keeps none of these registers; neither does the double.
    const uint32_t garbage = kGarbage;
    uc_reg_write(uc, UC_M68K_REG_D1, &garbage);
    uc_reg_write(uc, UC_M68K_REG_D2, &garbage);
    uc_reg_write(uc, UC_M68K_REG_A1, &garbage);
    // What the call returns goes to D0 or A0; the other one is lost as well.
    uc_reg_write(uc, UC_M68K_REG_D0, &garbage);
    uc_reg_write(uc, UC_M68K_REG_A0, &garbage);
    self->Trap(number);
    pc += 4;
    uc_reg_write(uc, UC_M68K_REG_PC, &pc);
    if (self->m_fatal) uc_emu_stop(uc);
}

std::vector<std::vector<uint32_t>> CPalmEmulator::CallsOf(uint16_t trap) const {
    std::vector<std::vector<uint32_t>> out;
    for (const SystemCall& c : m_calls) {
        if (c.trap == trap) out.push_back(c.args);
    }
    return out;
}

// Reads the arguments as the system does, runs the double and puts the result where the
// caller looks for it.
void CPalmEmulator::Trap(uint16_t number) {
    const TrapSignature* sig = FindTrap(number);
    if (sig == nullptr) {
        Error("unexpected system call " + Hex(number));
        m_fatal = true;
        return;
    }
    if (m_config.romVersion < sig->since) {
        Error(std::string(sig->name) + " does not exist on this system version");
        m_fatal = true;
        return;
    }
    uint32_t at = 0;
    uc_reg_read(m_uc, UC_M68K_REG_A7, &at);
    std::vector<uint32_t> args;
    for (const char* a = sig->args; *a != 0; ++a) {
        if (*a == 'b') {
            args.push_back(Read8(at));
            at += 2;
        } else if (*a == 'w') {
            args.push_back(Read16(at));
            at += 2;
        } else {
            args.push_back(Read32(at));
            at += 4;
        }
    }
    if (std::getenv("CC_VIEWER_TRACE") != nullptr) {
        std::string line = std::string("trap ") + sig->name + "(";
        for (size_t i = 0; i < args.size(); ++i) line += (i ? ", " : "") + Hex(args[i]);
        std::fprintf(stderr, "%s)\n", line.c_str());
    }
    m_calls.push_back({number, args});
    const uint32_t result = Dispatch(number, args);
    uint32_t d0 = 0;
    uc_reg_read(m_uc, UC_M68K_REG_D0, &d0);
    switch (sig->result) {
        case 'b':
            d0 = (d0 & 0xFFFFFF00u) | (result & 0xFFu);
            break;
        case 'w':
            d0 = (d0 & 0xFFFF0000u) | (result & 0xFFFFu);
            break;
        case 'l':
            d0 = result;
            break;
        case 'p':
            uc_reg_write(m_uc, UC_M68K_REG_A0, &result);
            break;
        default:
            break;
    }
    uc_reg_write(m_uc, UC_M68K_REG_D0, &d0);
}

uint32_t CPalmEmulator::Dispatch(uint16_t number, const std::vector<uint32_t>& a) {
    switch (number) {
        case 0xA08F:  // SysAppStartup(appInfoPP, prevGlobalsP, globalsPtrP)
            m_appInfo = Allocate(32);
            Write16(m_appInfo, m_config.launchCode);
            Write32(m_appInfo + 2, 0);
            Write16(m_appInfo + 6, 0x000E);
            Write32(a[0], m_appInfo);
            Write32(a[1], 0);
            Write32(a[2], 0);
            return 0;
        case 0xA090:  // SysAppExit(appInfoP, prevGlobalsP, globalsP)
            if (a[0] != m_appInfo) Error("SysAppExit with another application information");
            m_blocks.erase(m_appInfo);
            return 0;
        case 0xA27B:  // FtrGet(creator, featureNum, valueP)
            if (a[0] != FourCC("psys") || a[1] != 1) return kErrNoFeature;
            Write32(a[2], m_config.romVersion);
            return 0;
        case 0xA00B:  // MemHeapFreeBytes(heapID, freeP, maxP)
            if (a[0] != 0) Error("free bytes asked of a heap other than the dynamic heap");
            Write32(a[1], m_config.heapFree);
            Write32(a[2], m_config.heapMaxChunk);
            return 0;
        case 0xA013:  // MemPtrNew(size)
            return a[0] > m_config.heapMaxChunk ? 0 : Allocate(a[0]);
        case 0xA012:  // MemChunkFree(p)
            if (m_blocks.erase(a[0]) == 0)
                Error("MemChunkFree of " + Hex(a[0]) + ", not a live chunk");
            return 0;
        case 0xA05F: {  // DmGetResource(type, id)
            uint32_t handle = 0;
            for (Resource& r : m_resources) {
                if (FourCC(r.type) == a[0] && r.id == a[1]) {
                    ++r.gets;
                    handle = r.handle;
                }
            }
            return handle;
        }
        case 0xA061:  // DmReleaseResource(h)
            if (Resource* r = ByHandle(a[0])) {
                if (r->gets == 0) Error("resource " + r->type + " released more often than taken");
                --r->gets;
            }
            return 0;
        case 0xA021: {  // MemHandleLock(h)
            Resource* r = ByHandle(a[0]);
            if (r == nullptr || r->gets == 0) {
                Error("lock of a handle not taken");
                return 0;
            }
            if (r->address == 0) {
                // The data ends exactly at an unmapped page.
                const uint32_t size = uint32_t(r->data.size());
                const uint32_t pages = (size + kPage - 1) / kPage + (size == 0 ? 1 : 0);
                const uint32_t base = m_resourceTop;
                uc_mem_map(m_uc, base, pages * kPage, UC_PROT_READ | UC_PROT_WRITE);
                r->address = base + pages * kPage - size;
                uc_mem_write(m_uc, r->address, r->data.data(), size);
                m_resourceTop = base + (pages + 1) * kPage;  // one guard page after it
            }
            ++r->locks;
            return r->address;
        }
        case 0xA022:  // MemHandleUnlock(h)
            if (Resource* r = ByHandle(a[0])) {
                if (r->locks == 0)
                    Error("unlock of an unlocked handle");
                else
                    --r->locks;
            }
            return 0;
        case 0xA02D: {  // MemHandleSize(h)
            const Resource* r = ByHandle(a[0]);
            return r != nullptr ? uint32_t(r->data.size()) : 0;
        }
        case 0xA11D: {  // EvtGetEvent(eventP, timeout)
            m_frames.push_back(Frame{m_depth, m_screen, m_palette});
            Event e = m_nextEvent < m_events.size() ? m_events[m_nextEvent++] : Event::Stop();
            const uint32_t p = a[0];
            std::vector<uint8_t> zero(kEventSize, 0);
            uc_mem_write(m_uc, p, zero.data(), zero.size());
            Write16(p, e.type);
            Write16(p + 4, uint16_t(e.x));
            Write16(p + 6, uint16_t(e.y));
            if (e.type == 1) Write16(p + 2, 0x0100);  // pen down
            Write16(p + 8, e.chr);
            Write16(p + 12, e.modifiers);
            if (m_frames.size() > 10000) {
                Error("event loop does not end");
                m_fatal = true;
            }
            return 0;
        }
        case 0xA0A9:  // SysHandleEvent(eventP)
            m_systemEvents.push_back(Read16(a[0]));
            return 0;
        case 0xA16F: {  // FrmInitForm(id)
            bool found = false;
            for (const Resource& r : m_resources)
                found = found || (r.type == "tFRM" && r.id == a[0]);
            if (!found) Error("FrmInitForm of a missing form " + std::to_string(a[0]));
            return found ? kFormBase + a[0] : 0;
        }
        case 0xA174:  // FrmSetActiveForm(form)
        case 0xA170:  // FrmDeleteForm(form)
            if (a[0] < kFormBase) Error("form call with a pointer that is no form");
            return 0;
        case 0xA171:  // FrmDrawForm(form): the main form is empty, so drawing it clears
            if (a[0] < kFormBase) Error("form call with a pointer that is no form");
            Clear(0);
            return 0;
        case 0xA193:  // FrmDoDialog(form): the dialog leaves its mark on the screen
            m_dialogs.push_back(uint16_t(a[0] - kFormBase));
            Clear(uint8_t((1u << m_depth) - 1));
            return m_config.dialogButton;
        case 0xA192:  // FrmAlert(id)
            m_alerts.push_back(uint16_t(a[0]));
            return 0;
        case 0xA206:  // WinEraseWindow()
            Clear(0);
            return 0;
        case 0xA20B:  // WinGetDisplayExtent(xP, yP)
            Write16(a[0], kScreen);
            Write16(a[1], kScreen);
            return 0;
        case 0xA226:  // WinDrawBitmap(bitmapP, x, y)
            DrawBitmap(a[0], int16_t(a[1]), int16_t(a[2]));
            return 0;
        case 0xA33E:
            return ScreenModeCall(a);
        case 0xA39D:
            return PaletteCall(a);
        default:
            return 0;  // every trap of the table has its case above
    }
}

// WinScreenMode(operation, widthP, heightP, depthP, enableColorP); null pointers are
// left alone, as the system does.
uint32_t CPalmEmulator::ScreenModeCall(const std::vector<uint32_t>& a) {
    const uint32_t widthP = a[1], heightP = a[2], depthP = a[3], colorP = a[4];
    const bool color = (m_config.supportedDepths & 0x80) != 0;
    auto report = [&](uint32_t depth) {
        if (widthP) Write32(widthP, kScreen);
        if (heightP) Write32(heightP, kScreen);
        if (depthP) Write32(depthP, depth);
        if (colorP && uc_mem_write(m_uc, colorP, &color, 1) != UC_ERR_OK)
            Error("write to unmapped " + Hex(colorP));
    };
    switch (a[0]) {
        case kModeGetDefaults:
            report(m_config.defaultDepth);
            return 0;
        case kModeGet:
            report(m_depth);
            return 0;
        case kModeSetToDefaults:
            m_depth = m_config.defaultDepth;
            m_depthChanged = false;
            return 0;
        case kModeSet: {
            if (!depthP) return 0;
            const uint32_t depth = Read32(depthP);
            if (depth == 0 || depth > 8 || !(m_config.supportedDepths & (1u << (depth - 1)))) {
                Error("screen depth " + std::to_string(depth) + " set but not supported");
                return kErrParam;
            }
            m_depth = depth;
            m_depthChanged = true;
            return 0;
        }
        case kModeGetDepths:
            if (depthP) Write32(depthP, m_config.supportedDepths);
            return 0;
        case kModeGetColor:
            report(m_depth);
            return 0;
        default:
            Error("WinScreenMode operation " + std::to_string(a[0]));
            return kErrParam;
    }
}

// WinPalette(operation, startIndex, paletteEntries, tableP) on the screen's 256 entries.
uint32_t CPalmEmulator::PaletteCall(const std::vector<uint32_t>& a) {
    const int16_t start = int16_t(a[1]);
    const uint32_t count = a[2], tableP = a[3];
    if (a[0] == kPaletteSetToDefault) {
        m_palette = DefaultPalette();
        m_paletteChanged = false;
        return 0;
    }
    if ((a[0] != kPaletteGet && a[0] != kPaletteSet) || start < 0 || start + count > 256 ||
        tableP == 0) {
        Error("WinPalette(" + std::to_string(a[0]) + ", " + std::to_string(start) + ", " +
              std::to_string(count) + ") not supported here");
        return kErrParam;
    }
    uint8_t* entries = m_palette.data() + 4 * start;
    if (a[0] == kPaletteGet) {
        uc_mem_write(m_uc, tableP, entries, 4 * count);
        return 0;
    }
    if (uc_mem_read(m_uc, tableP, entries, 4 * count) != UC_ERR_OK) Error("palette unreadable");
    for (uint32_t i = 0; i < count; ++i) entries[4 * i] = uint8_t(start + int(i));
    m_paletteChanged = true;
    return 0;
}

void CPalmEmulator::CheckLeaks() {
    if (!m_blocks.empty()) Error(std::to_string(m_blocks.size()) + " memory chunks not freed");
    for (const Resource& r : m_resources) {
        if (r.gets != 0) Error("resource " + r.type + " " + std::to_string(r.id) + " not released");
        if (r.locks != 0) Error("resource " + r.type + " " + std::to_string(r.id) + " left locked");
    }
    if (m_depthChanged) Error("screen depth not restored");
    if (m_paletteChanged) Error("palette not restored");
}

bool CPalmEmulator::Run(const std::vector<uint8_t>& code1) {
    if (uc_open(UC_ARCH_M68K, UC_MODE_BIG_ENDIAN, &m_uc) != UC_ERR_OK) {
        Error("no emulator");
        return false;
    }
    if (uc_ctl_set_cpu_model(m_uc, UC_CPU_M68K_M68000) != UC_ERR_OK || code1.size() > kCodeSize) {
        Error("emulator set-up failed");
        return false;
    }
    uc_mem_map(m_uc, kLowBase, kLowSize, UC_PROT_ALL);
    uc_mem_map(m_uc, kCodeBase, kCodeSize, UC_PROT_READ | UC_PROT_EXEC);
    uc_mem_map(m_uc, kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(m_uc, kHeapBase, kHeapSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_write(m_uc, kCodeBase, code1.data(), code1.size());
    m_heapTop = kHeapBase;
    m_resourceTop = kResourceBase;

    // The system calls the code resource's first byte like a function:
    // launch code, parameter block and flags above the return address.
    const uint32_t sp = kStackBase + kStackSize - 64;
    Write32(sp, kReturnAddress);
    Write16(sp + 4, m_config.launchCode);
    Write32(sp + 6, 0);
    Write16(sp + 10, 0x000E);
    uc_reg_write(m_uc, UC_M68K_REG_A7, &sp);

    uc_hook hook;
    uc_hook_add(m_uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&CPalmEmulator::OnInterrupt),
                this, 1, 0);
    const uc_err err = uc_emu_start(m_uc, kCodeBase, kReturnAddress, kRunMicroseconds, 0);
    uint32_t pc = 0, d0 = 0;
    uc_reg_read(m_uc, UC_M68K_REG_PC, &pc);
    uc_reg_read(m_uc, UC_M68K_REG_D0, &d0);
    m_result = d0;
    if (err != UC_ERR_OK) {
        Error(std::string("emulation stopped: ") + uc_strerror(err) + " at " + Hex(pc));
        return false;
    }
    if (pc != kReturnAddress) {
        Error("code did not return (pc " + Hex(pc) + ")");
        return false;
    }
    if (m_fatal) return false;
    CheckLeaks();
    return true;
}

}  // namespace viewer_test
