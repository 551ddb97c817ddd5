// Runs a Palm OS 68k code resource in a CPU emulator (Unicorn, 68000 model) with test
// doubles of the system calls the picture viewer makes: features, memory, resources,
// forms and alerts, events, and a 160 x 160 screen that bitmaps are drawn into.
//
// Each call's arguments are read from the caller's stack at the sizes of the system's own
// prototypes, declared in one table in palm_emulator.cpp: a 1-byte argument is read from
// the first (high-order) byte of its 2-byte slot, as the system reads it. Results go to
// D0 at their own size (the rest of D0 holds garbage) or to A0.
//
// The doubles are strict: a call with arguments the real system would not accept, a
// bitmap at a depth other than the screen's, an unknown trap, a handle released twice
// and the like are recorded in Errors(); memory and resources still held when the
// application returns are recorded too. Resource data is placed so that it ends at an
// unmapped page, so reading past a resource's end stops the run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct uc_struct;  // the emulator's engine

namespace viewer_test {

struct DeviceConfig {
    uint32_t romVersion = 0x03503000;  // 3.5
    uint32_t supportedDepths = 0x8B;   // 1, 2, 4 and 8 bits
    uint32_t defaultDepth = 1;
    uint32_t heapFree = 4u << 20;
    uint32_t heapMaxChunk = 65500;
    uint16_t dialogButton = 0;  // what FrmDoDialog answers
    uint16_t launchCode = 0;
    // How 8-bit bitmaps reach an 8-bit screen. Some systems copy the indices, so the
    // palette set with WinPalette gives them their colours; others match each colour,
    // taken from the bitmap's own colour table (or the default palette when it has none),
    // to the nearest entry of the screen's palette.
    bool matchColors = false;
};

struct Event {
    uint16_t type = 0;
    uint16_t chr = 0;
    uint16_t modifiers = 0;
    int16_t x = 0, y = 0;
    static Event Key(uint16_t chr, uint16_t modifiers = 0) { return {4, chr, modifiers, 0, 0}; }
    static Event Pen(int16_t x, int16_t y) { return {1, 0, 0, x, y}; }
    static Event Stop() { return {22, 0, 0, 0, 0}; }
};

// The screen as it was when the application asked for its next event.
struct Frame {
    uint32_t depth = 1;
    std::vector<uint8_t> pixels;   // 160 * 160 pixel values, top row first
    std::vector<uint8_t> palette;  // the screen's 256 entries of index, r, g, b
};

// One system call with its arguments as the system read them.
struct SystemCall {
    uint16_t trap;
    std::vector<uint32_t> args;
};

struct DrawCall {
    int16_t x, y, width, height;
};

class CPalmEmulator {
  public:
    static constexpr int kScreen = 160;

    explicit CPalmEmulator(DeviceConfig config);
    ~CPalmEmulator();
    CPalmEmulator(const CPalmEmulator&) = delete;
    CPalmEmulator& operator=(const CPalmEmulator&) = delete;

    void AddResource(const std::string& type, uint16_t id, std::vector<uint8_t> data);
    void QueueEvent(const Event& e) { m_events.push_back(e); }

    // Runs the code resource from its first byte until it returns. False when the run
    // stopped otherwise (CPU fault, time-out, unknown trap); Errors() says why.
    bool Run(const std::vector<uint8_t>& code1);

    const std::vector<std::string>& Errors() const { return m_errors; }
    const std::vector<Frame>& Frames() const { return m_frames; }
    const std::vector<uint16_t>& Alerts() const { return m_alerts; }
    const std::vector<DrawCall>& Draws() const { return m_draws; }
    const std::vector<uint16_t>& Dialogs() const { return m_dialogs; }
    const std::vector<uint16_t>& SystemEvents() const { return m_systemEvents; }
    const std::vector<SystemCall>& Calls() const { return m_calls; }
    // The arguments of every call of one trap, in order.
    std::vector<std::vector<uint32_t>> CallsOf(uint16_t trap) const;
    // The screen's palette: 256 entries of index, r, g, b.
    const std::vector<uint8_t>& Palette() const { return m_palette; }
    uint32_t Depth() const { return m_depth; }
    bool DepthChanged() const { return m_depthChanged; }
    uint32_t Result() const { return m_result; }
    uint64_t TrapCount() const { return m_trapCount; }

  private:
    struct Resource {
        std::string type;
        uint16_t id;
        std::vector<uint8_t> data;
        uint32_t handle = 0;
        uint32_t address = 0;  // where the data lies once locked
        int gets = 0;
        int locks = 0;
    };

    static void OnInterrupt(::uc_struct* uc, uint32_t intno, void* self);
    void Trap(uint16_t number);
    uint32_t Dispatch(uint16_t number, const std::vector<uint32_t>& a);
    uint32_t ScreenModeCall(const std::vector<uint32_t>& a);
    uint32_t PaletteCall(const std::vector<uint32_t>& a);
    uint8_t Read8(uint32_t address);
    uint16_t Read16(uint32_t address);
    uint32_t Read32(uint32_t address);
    void Write16(uint32_t address, uint16_t v);
    void Write32(uint32_t address, uint32_t v);
    uint32_t Allocate(uint32_t size);
    Resource* ByHandle(uint32_t handle);
    void Error(const std::string& text);
    void DrawBitmap(uint32_t bitmap, int16_t x, int16_t y);
    std::vector<uint8_t> ColorMatch(const std::vector<uint8_t>& sourceTable) const;
    void Clear(uint8_t value);
    void CheckLeaks();

    DeviceConfig m_config;
    ::uc_struct* m_uc = nullptr;
    std::vector<Event> m_events;
    size_t m_nextEvent = 0;
    std::vector<Resource> m_resources;
    std::map<uint32_t, uint32_t> m_blocks;  // live heap blocks: address -> size
    uint32_t m_heapTop = 0;
    uint32_t m_resourceTop = 0;
    uint32_t m_appInfo = 0;
    std::vector<std::string> m_errors;
    std::vector<Frame> m_frames;
    std::vector<uint16_t> m_alerts;
    std::vector<DrawCall> m_draws;
    std::vector<uint16_t> m_dialogs;
    std::vector<uint16_t> m_systemEvents;
    std::vector<SystemCall> m_calls;
    std::vector<uint8_t> m_palette;
    // The last colour match: source colours, the palette then, the screen index of each.
    std::vector<uint8_t> m_matchSource, m_matchPalette, m_matchMap;
    std::vector<uint8_t> m_screen;
    uint32_t m_depth = 1;
    bool m_depthChanged = false;
    bool m_paletteChanged = false;
    uint32_t m_result = 0;
    uint64_t m_trapCount = 0;
    bool m_fatal = false;
};

}  // namespace viewer_test
