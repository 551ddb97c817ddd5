#include "resources/viewer/viewer_prc_builder.h"

#include <string_view>

namespace viewer {
namespace {

// Big-endian byte writer for resource layouts.
class CBytes {
  public:
    CBytes& U8(uint8_t v) {
        m_data.push_back(v);
        return *this;
    }
    CBytes& U16(uint16_t v) { return U8(uint8_t(v >> 8)).U8(uint8_t(v)); }
    CBytes& U32(uint32_t v) { return U16(uint16_t(v >> 16)).U16(uint16_t(v)); }
    CBytes& Text(std::string_view s) {  // with its terminating NUL
        m_data.insert(m_data.end(), s.begin(), s.end());
        return U8(0);
    }
    CBytes& AlignWord() {
        if (m_data.size() % 2 != 0) U8(0);
        return *this;
    }
    size_t Size() const { return m_data.size(); }
    void Put32At(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) m_data[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
    }
    std::vector<uint8_t> Take() { return std::move(m_data); }

  private:
    std::vector<uint8_t> m_data;
};

// Code 0: the segment loader's header. The application has no globals below A5, and
// the single jump-table entry ("move.w #1,-(sp); _LoadSeg") names code 1.
std::vector<uint8_t> Code0() {
    constexpr uint32_t kAboveA5 = 0x28;
    constexpr uint32_t kBelowA5 = 0;
    constexpr uint32_t kJumpTableSize = 8;
    constexpr uint32_t kJumpTableOffset = 0x20;
    CBytes b;
    b.U32(kAboveA5).U32(kBelowA5).U32(kJumpTableSize).U32(kJumpTableOffset);
    b.U16(0x0000).U16(0x3F3C).U16(0x0001).U16(0xA9F0);
    return b.Take();
}

// Data 0: the globals' initial contents, here none. Its layout: the length of the
// initialised data, then three blocks each opened by an A5 offset and closed by a zero
// byte (all empty), then three empty relocation tables.
std::vector<uint8_t> Data0() {
    CBytes b;
    b.U32(0);                                  // initialised data length
    for (int block = 0; block < 3; ++block) {  // A5 offset, then the end mark
        b.U32(0).U8(0);
    }
    for (int i = 0; i < 6; ++i) b.U32(0);  // relocation tables, all empty
    return b.Take();
}

// Window flags (high bit first): format, offscreen, modal, focusable, enabled, visible,
// dialog, freeBitmap.
constexpr uint16_t kWinModal = 0x2000;
constexpr uint16_t kWinFocusable = 0x1000;
constexpr uint16_t kWinDialog = 0x0200;
constexpr uint16_t kFrameNone = 0x0000;
constexpr uint16_t kFrameDialog = 0x0302;  // corner diameter 3, width 2
// Form attributes: usable, enabled, visible, dirty, saveBehind, ...
constexpr uint16_t kFormUsable = 0x8000;
constexpr uint16_t kFormSaveBehind = 0x0800;
// Control attributes: usable, enabled, visible, on, leftAnchor, frame (3 bits), ...
constexpr uint16_t kControlButton = 0x8000 | 0x4000 | 0x0800 | 0x0100;
constexpr uint16_t kLabelUsable = 0x8000;

enum ObjectKind : uint8_t { kObjControl = 1, kObjLabel = 8, kObjTitle = 9 };

struct Rect {
    int16_t x, y, w, h;
};

struct FormObject {
    ObjectKind kind;
    uint16_t id;
    Rect rect;  // labels use x and y only
    std::string_view text;
};

// A form as the system loads it: the window and form header (68 bytes), the object list
// (kind and offset of each object), then each object with its text right behind it.
// Pointer fields hold the offset of what they point at from the form's start.
std::vector<uint8_t> Form(uint16_t id, Rect bounds, bool modal, uint16_t defaultButton,
                          uint16_t helpId, const std::vector<FormObject>& objects) {
    CBytes b;
    // Window.
    b.U16(uint16_t(bounds.w)).U16(uint16_t(bounds.h)).U32(0);
    b.U16(uint16_t(kWinFocusable | (modal ? kWinModal | kWinDialog : 0)));
    b.U16(uint16_t(bounds.x))
        .U16(uint16_t(bounds.y))
        .U16(uint16_t(bounds.w))
        .U16(uint16_t(bounds.h));
    b.U16(0).U16(0).U16(0).U16(0);  // clipping bounds
    b.U32(0);                       // bitmap
    b.U16(modal ? kFrameDialog : kFrameNone);
    b.U32(0).U32(0);  // draw state, next window
    // Form.
    b.U16(id).U16(uint16_t(kFormUsable | (modal ? kFormSaveBehind : 0))).U16(0);
    b.U32(0).U32(0);  // bits behind, handler
    b.U16(0);         // focus
    b.U16(defaultButton).U16(helpId).U16(0 /* menu */).U16(uint16_t(objects.size()));
    b.U32(0);  // object list pointer
    const size_t listAt = b.Size();
    for (size_t i = 0; i < objects.size(); ++i) b.U8(objects[i].kind).U8(0).U32(0);
    for (size_t i = 0; i < objects.size(); ++i) {
        const FormObject& o = objects[i];
        b.AlignWord();
        b.Put32At(listAt + 6 * i + 2, uint32_t(b.Size()));
        size_t textField = 0;
        switch (o.kind) {
            case kObjTitle:
                b.U16(uint16_t(o.rect.x))
                    .U16(uint16_t(o.rect.y))
                    .U16(uint16_t(o.rect.w))
                    .U16(uint16_t(o.rect.h));
                textField = b.Size();
                b.U32(0);
                break;
            case kObjLabel:
                b.U16(o.id).U16(uint16_t(o.rect.x)).U16(uint16_t(o.rect.y)).U16(kLabelUsable);
                b.U8(0 /* standard font */).U8(0);
                textField = b.Size();
                b.U32(0);
                break;
            case kObjControl:
                b.U16(o.id)
                    .U16(uint16_t(o.rect.x))
                    .U16(uint16_t(o.rect.y))
                    .U16(uint16_t(o.rect.w))
                    .U16(uint16_t(o.rect.h));
                textField = b.Size();
                b.U32(0);
                b.U16(kControlButton).U8(0 /* push button style: plain button */).U8(0 /* font */);
                b.U8(0 /* group */).U8(0);
                break;
        }
        b.Put32At(textField, uint32_t(b.Size()));
        b.Text(o.text);
    }
    return b.AlignWord().Take();
}

// Alert template: type, help id, button count, default button, title, message, buttons.
std::vector<uint8_t> Alert(uint16_t type, std::string_view title, std::string_view message) {
    CBytes b;
    b.U16(type).U16(0).U16(1).U16(0);
    b.Text(title).Text(message).Text("OK");
    return b.Take();
}

constexpr uint16_t kAlertInformation = 0;
constexpr uint16_t kAlertError = 3;

// The launcher icon: 32 x 22 pixels, one bit each: a framed landscape.
std::vector<uint8_t> Icon() {
    constexpr int kWidth = 32, kHeight = 22, kRowBytes = 4;
    CBytes b;
    b.U16(kWidth).U16(kHeight).U16(kRowBytes).U16(0);
    b.U8(1).U8(0).U16(0).U32(0);  // pixel size 1, version 0
    for (int y = 0; y < kHeight; ++y) {
        uint32_t row = 0;
        for (int x = 0; x < kWidth; ++x) {
            const bool frame = (y == 1 || y == kHeight - 2)
                                   ? (x >= 4 && x <= 27)
                                   : ((x == 4 || x == 27) && y > 1 && y < kHeight - 2);
            const int hill = 17 - (x < 16 ? (x - 4) / 2 : (27 - x) / 2);  // a peak
            const bool land = x > 4 && x < 27 && y < kHeight - 2 && y >= hill;
            const bool sun = (x - 21) * (x - 21) + (y - 6) * (y - 6) <= 5;
            if (frame || land || sun) row |= 0x80000000u >> x;
        }
        b.U32(row);
    }
    return b.Take();
}

std::vector<uint8_t> String(std::string_view s) {
    CBytes b;
    b.Text(s);
    return b.Take();
}

}  // namespace

std::vector<pdb::Resource> BuildViewerResources(const std::vector<uint8_t>& code1) {
    const std::vector<FormObject> mainObjects;
    const std::vector<FormObject> modeObjects = {
        {kObjTitle, 0, {0, 0, 0, 0}, "Drawing Mode"},
        {kObjLabel, 1205, {8, 18, 0, 0}, "Fast draws whole tiles;"},
        {kObjLabel, 1206, {8, 30, 0, 0}, "compatible draws line by line."},
        {kObjControl, kModeFastButtonId, {6, 48, 36, 12}, "Fast"},
        {kObjControl, kModeCompatibleButtonId, {48, 48, 60, 12}, "Compatible"},
        {kObjControl, kModeCancelButtonId, {114, 48, 36, 12}, "Cancel"},
    };
    std::vector<pdb::Resource> r;
    auto add = [&r](const char(&type)[5], uint16_t id, std::vector<uint8_t> data) {
        r.push_back(pdb::Resource{std::move(data), pdb::MakeFourCC(type), id});
    };
    add("code", 0, Code0());
    add("code", 1, code1);
    add("data", 0, Data0());
    add("tFRM", kMainFormId, Form(kMainFormId, {0, 0, 160, 160}, false, 0, 0, mainObjects));
    add("tFRM", kModeFormId,
        Form(kModeFormId, {2, 94, 156, 64}, true, kModeCancelButtonId, 1000, modeObjects));
    add("Talt", kAlertOldSystemId,
        Alert(kAlertError, "System Too Old", "This picture needs Palm OS 2.0 or later."));
    add("Talt", kAlertNoMemoryId,
        Alert(kAlertError, "Not Enough Memory",
              "There is not enough free memory to show this picture. Delete some data or "
              "close other applications and try again."));
    add("Talt", kAlertCannotShowId,
        Alert(kAlertInformation, "Cannot Show Picture",
              "This handheld cannot show this picture, or the picture is damaged."));
    add("tAIB", 1000, Icon());
    add("tSTR", 1000,
        String("Scroll with the up and down buttons; the second and third application "
               "buttons scroll left and right. Tap the picture or press the first "
               "application button to choose the drawing mode. Fast draws whole tiles at "
               "once; compatible draws line by line and works where fast drawing shows "
               "nothing."));
    add("tAIN", 1000, String("Picture"));
    add("taic", 1000, String("Pictures"));
    add("tver", 1000, String("2.00"));
    return r;
}

pdb::DbInfo ViewerDbInfo() {
    // 18 January 2001, 00:00 UTC: a fixed date keeps the file the same on every build.
    constexpr int64_t kDate = 979776000;
    pdb::DbInfo info;
    info.name = kDbName;
    info.attributes = pdb::kAttrResDb | pdb::kAttrBackup;
    info.version = kDbVersion;
    info.createDate = kDate;
    info.modifyDate = kDate;
    info.backupDate = -pdb::kEpochOffset;  // never backed up: 0 in the file
    info.type = kDbType;
    info.creator = kDbCreator;
    return info;
}

int WriteViewerPrc(const std::vector<uint8_t>& code1, const std::string& path) {
    int rc = pdb::kOk;
    std::unique_ptr<pdb::CPalmDbFile> file = pdb::CPalmDbFile::Create(path, ViewerDbInfo(), &rc);
    if (!file) return rc;
    for (const pdb::Resource& res : BuildViewerResources(code1)) {
        rc = file->AppendResource(res);
        if (rc != pdb::kOk) return rc;
    }
    return file->Close();
}

}  // namespace viewer
