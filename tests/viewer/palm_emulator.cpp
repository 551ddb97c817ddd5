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

}  // namespace

CPalmEmulator::CPalmEmulator(DeviceConfig config)
    : m_config(config), m_screen(size_t(kScreen) * kScreen, 0), m_depth(config.defaultDepth) {}

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

uint16_t CPalmEmulator::Arg16(uint32_t offset) {
    uint32_t sp = 0;
    uc_reg_read(m_uc, UC_M68K_REG_A7, &sp);
    return Read16(sp + offset);
}
uint32_t CPalmEmulator::Arg32(uint32_t offset) {
    uint32_t sp = 0;
    uc_reg_read(m_uc, UC_M68K_REG_A7, &sp);
    return Read32(sp + offset);
}
void CPalmEmulator::SetD0(uint32_t v) {
    uc_reg_write(m_uc, UC_M68K_REG_D0, &v);
}
void CPalmEmulator::SetA0(uint32_t v) {
    uc_reg_write(m_uc, UC_M68K_REG_A0, &v);
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

void CPalmEmulator::DrawBitmap(uint32_t bitmap, int16_t x, int16_t y) {
    const int16_t width = int16_t(Read16(bitmap));
    const int16_t height = int16_t(Read16(bitmap + 2));
    const uint16_t rowBytes = Read16(bitmap + 4);
    const uint16_t flags = Read16(bitmap + 6);
    const uint8_t version = Read8(bitmap + 9);
    const uint32_t depth = version == 0 ? 1 : Read8(bitmap + 8);
    m_draws.push_back({x, y, width, height});
    if (version > 2 || flags != 0) {
        Error("bitmap version or flags not supported here");
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
    std::vector<uint8_t> bits(size_t(rowBytes) * size_t(height));
    if (uc_mem_read(m_uc, bitmap + 16, bits.data(), bits.size()) != UC_ERR_OK) {
        Error("bitmap bits unreadable");
        return;
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
                uint8_t((byte >> shift) & ((1u << depth) - 1));
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
    if (std::getenv("CC_VIEWER_TRACE") != nullptr) {
        uint32_t sp = 0;
        uc_reg_read(uc, UC_M68K_REG_A7, &sp);
        std::fprintf(stderr, "trap %04X sp %X args %08X %08X\n", number, sp, self->Arg32(0),
                     self->Arg32(4));
    }
    self->Trap(number);
    pc += 4;
    uc_reg_write(uc, UC_M68K_REG_PC, &pc);
    if (self->m_fatal) uc_emu_stop(uc);
}

void CPalmEmulator::Trap(uint16_t number) {
    const bool os30 = m_config.romVersion >= 0x03000000;
    const bool os35 = m_config.romVersion >= 0x03500000;
    switch (number) {
        case 0xA08F: {  // SysAppStartup(appInfoPP, prevGlobalsP, globalsPtrP)
            m_appInfo = Allocate(32);
            Write16(m_appInfo, m_config.launchCode);
            Write32(m_appInfo + 2, 0);
            Write16(m_appInfo + 6, 0x000E);
            Write32(Arg32(0), m_appInfo);
            Write32(Arg32(4), 0);
            Write32(Arg32(8), 0);
            SetD0(0);
            break;
        }
        case 0xA090:  // SysAppExit(appInfoP, prevGlobalsP, globalsP)
            if (Arg32(0) != m_appInfo) Error("SysAppExit with another application information");
            m_blocks.erase(m_appInfo);
            SetD0(0);
            break;
        case 0xA27B: {  // FtrGet(creator, number, valueP)
            const uint32_t creator = Arg32(0);
            const uint16_t feature = Arg16(4);
            if (creator == FourCC("psys") && feature == 1) {
                Write32(Arg32(6), m_config.romVersion);
                SetD0(0);
            } else {
                SetD0(0x0C02);  // no such feature
            }
            break;
        }
        case 0xA00B:  // MemHeapFreeBytes(heapID, freeP, maxP)
            if (Arg16(0) != 0) Error("free bytes asked of a heap other than the dynamic heap");
            Write32(Arg32(2), m_config.heapFree);
            Write32(Arg32(6), m_config.heapMaxChunk);
            SetD0(0);
            break;
        case 0xA013: {  // MemPtrNew(size)
            const uint32_t size = Arg32(0);
            SetA0(size > m_config.heapMaxChunk ? 0 : Allocate(size));
            break;
        }
        case 0xA012: {  // MemChunkFree(p)
            const uint32_t p = Arg32(0);
            if (m_blocks.erase(p) == 0) Error("MemChunkFree of " + Hex(p) + ", not a live chunk");
            SetD0(0);
            break;
        }
        case 0xA05F: {  // DmGetResource(type, id)
            const uint32_t type = Arg32(0);
            const uint16_t id = Arg16(4);
            uint32_t handle = 0;
            for (Resource& r : m_resources) {
                if (FourCC(r.type) == type && r.id == id) {
                    ++r.gets;
                    handle = r.handle;
                }
            }
            SetA0(handle);
            break;
        }
        case 0xA061:  // DmReleaseResource(h)
            if (Resource* r = ByHandle(Arg32(0))) {
                if (r->gets == 0) Error("resource " + r->type + " released more often than taken");
                --r->gets;
            }
            SetD0(0);
            break;
        case 0xA021: {  // MemHandleLock(h)
            Resource* r = ByHandle(Arg32(0));
            if (r == nullptr || r->gets == 0) {
                Error("lock of a handle not taken");
                SetA0(0);
                break;
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
            SetA0(r->address);
            break;
        }
        case 0xA022:  // MemHandleUnlock(h)
            if (Resource* r = ByHandle(Arg32(0))) {
                if (r->locks == 0)
                    Error("unlock of an unlocked handle");
                else
                    --r->locks;
            }
            SetD0(0);
            break;
        case 0xA02D:  // MemHandleSize(h)
            if (Resource* r = ByHandle(Arg32(0))) SetD0(uint32_t(r->data.size()));
            break;
        case 0xA11D: {  // EvtGetEvent(eventP, timeout)
            m_frames.push_back(Frame{m_depth, m_screen});
            Event e = m_nextEvent < m_events.size() ? m_events[m_nextEvent++] : Event::Stop();
            const uint32_t p = Arg32(0);
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
            break;
        }
        case 0xA0A9:  // SysHandleEvent(eventP)
            m_systemEvents.push_back(Read16(Arg32(0)));
            SetD0(0);
            break;
        case 0xA16F: {  // FrmInitForm(id)
            const uint16_t id = Arg16(0);
            bool found = false;
            for (const Resource& r : m_resources) found = found || (r.type == "tFRM" && r.id == id);
            if (!found) Error("FrmInitForm of a missing form " + std::to_string(id));
            SetA0(found ? kFormBase + id : 0);
            break;
        }
        case 0xA174:  // FrmSetActiveForm(form)
        case 0xA170:  // FrmDeleteForm(form)
            if (Arg32(0) < kFormBase) Error("form call with a pointer that is no form");
            break;
        case 0xA171:  // FrmDrawForm(form): the main form is empty, so drawing it clears
            if (Arg32(0) < kFormBase) Error("form call with a pointer that is no form");
            Clear(0);
            break;
        case 0xA193:  // FrmDoDialog(form): the dialog leaves its mark on the screen
            m_dialogs.push_back(uint16_t(Arg32(0) - kFormBase));
            Clear(uint8_t((1u << m_depth) - 1));
            SetD0(m_config.dialogButton);
            break;
        case 0xA192:  // FrmAlert(id)
            m_alerts.push_back(Arg16(0));
            SetD0(0);
            break;
        case 0xA206:  // WinEraseWindow()
            Clear(0);
            break;
        case 0xA20B:  // WinGetDisplayExtent(xP, yP)
            Write16(Arg32(0), kScreen);
            Write16(Arg32(4), kScreen);
            break;
        case 0xA226:  // WinDrawBitmap(bitmapP, x, y)
            DrawBitmap(Arg32(0), int16_t(Arg16(4)), int16_t(Arg16(6)));
            break;
        case 0xA33E: {  // WinScreenMode(op, widthP, heightP, depthP, enableColorP)
            if (!os30) {
                Error("WinScreenMode does not exist before 3.0");
                m_fatal = true;
                break;
            }
            const uint16_t op = Arg16(0);
            const uint32_t depthP = Arg32(10);
            if (op == 4) {
                Write32(depthP, m_config.supportedDepths);
            } else if (op == 3) {
                const uint32_t depth = Read32(depthP);
                if (depth == 0 || depth > 8 || !(m_config.supportedDepths & (1u << (depth - 1)))) {
                    Error("screen depth " + std::to_string(depth) + " set but not supported");
                    SetD0(0x0C01);
                    break;
                }
                m_depth = depth;
                m_depthChanged = true;
            } else if (op == 2) {
                m_depth = m_config.defaultDepth;
                m_depthChanged = false;
            } else {
                Error("WinScreenMode operation " + std::to_string(op));
            }
            SetD0(0);
            break;
        }
        case 0xA39D: {  // WinPalette(op, startIndex, count, tableP)
            if (!os35) {
                Error("WinPalette does not exist before 3.5");
                m_fatal = true;
                break;
            }
            const uint16_t op = Arg16(0);
            if (op == 1) {
                const uint16_t count = Arg16(4);
                m_palette.resize(size_t(count) * 4);
                uc_mem_read(m_uc, Arg32(6), m_palette.data(), m_palette.size());
                m_paletteChanged = true;
            } else if (op == 2) {
                m_paletteChanged = false;
            } else {
                Error("WinPalette operation " + std::to_string(op));
            }
            SetD0(0);
            break;
        }
        default:
            Error("unexpected system call " + Hex(number));
            m_fatal = true;
            break;
    }
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
