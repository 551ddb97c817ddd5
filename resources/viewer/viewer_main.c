/* The picture viewer on the handheld: shows the picture stored in its own database as
 * a HEAD resource and BITM tiles, at the picture's depth, scrolled by the hardware
 * buttons.
 *
 * Buttons: page down / page up scroll by a screen; the second and third application
 * buttons scroll left and right by a screen; the first application button or a tap on
 * the picture opens the drawing-mode dialog.
 * Drawing modes: "fast" hands each visible tile to the system as one bitmap; the
 * "compatible" mode draws the visible part line by line through a small line bitmap,
 * for systems that draw large bitmaps badly.
 *
 * The application has no global variables (its data 0 resource is empty): all state
 * lives in one chunk from the dynamic heap, so the code runs from any address. */
#include "palm_os.h"
#include "viewer_core.h"

#define kFourCC(a, b, c, d) \
    (((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d))

/* Resources of this application. */
enum {
    kMainForm = 1000,
    kModeForm = 1200,
    kModeFastButton = 1202,
    kModeCompatibleButton = 1203,
    kAlertOldSystem = 1001,
    kAlertNoMemory = 1101,
    kAlertCannotShow = 1201
};

enum {
    kMinRomVersion = 0x02000000UL,
    kColorRomVersion = 0x03000000UL,   /* screen depths can be asked for and set */
    kPaletteRomVersion = 0x03500000UL, /* palettes can be set */
    kMaxLinePixels = 160,
    kLineBytes = 160, /* one line at 8 bits per pixel */
    kSystemReserve = 4096
};

typedef struct Viewer {
    VwPicture pic;
    MemHandle headHandle;
    uint8_t* tileBuffer; /* bitmap of one decoded tile */
    uint16_t bitsOffset; /* where a bitmap's bits follow its header and colour table */
    uint16_t viewWidth, viewHeight;
    uint16_t scrollX, scrollY;
    uint16_t fast;
    uint16_t failed;
    /* The line bitmap: header, colour table (8 bits per pixel only), one line of bits. */
    uint8_t line[kVwBitmapHeaderSize + kVwBitmapColorTableSize + kLineBytes]
        __attribute__((aligned(4)));
} Viewer;

static uint16_t Min16(uint16_t a, uint16_t b) {
    return a < b ? a : b;
}

static uint16_t Max16(uint16_t a, uint16_t b) {
    return a > b ? a : b;
}

/* Loads and decodes tile `index` into the tile buffer. */
static uint16_t LoadTile(Viewer* v, uint16_t index, VwTile* tile) {
    MemHandle h;
    const uint8_t* data;
    uint16_t rc;

    if (VwTileGeometry(&v->pic, index, tile) != kVwOk) {
        return 0;
    }
    h = DmGetResource(kFourCC('B', 'I', 'T', 'M'), index);
    if (h == 0) {
        return 0;
    }
    data = (const uint8_t*)MemHandleLock(h);
    rc = VwDecodeTile(&v->pic, tile, data, MemHandleSize(h), v->tileBuffer + v->bitsOffset);
    MemHandleUnlock(h);
    DmReleaseResource(h);
    return rc == kVwOk;
}

/* Every tile is there and no larger than its plain size: checked once at start so that
 * a broken picture gives an alert instead of half a picture. */
static uint16_t TilesPresent(const VwPicture* pic) {
    uint16_t i;
    for (i = 0; i < pic->tileCount; ++i) {
        VwTile tile;
        MemHandle h = DmGetResource(kFourCC('B', 'I', 'T', 'M'), i);
        uint32_t size;
        if (h == 0) {
            return 0;
        }
        size = MemHandleSize(h);
        DmReleaseResource(h);
        VwTileGeometry(pic, i, &tile);
        if (size > tile.plainSize || (size < tile.plainSize && !pic->compressed)) {
            return 0;
        }
    }
    return 1;
}

static void DrawTileFast(Viewer* v, const VwTile* tile) {
    VwWriteBitmapHeader(&v->pic, tile->columns, tile->rows, tile->rowBytes, v->tileBuffer);
    WinDrawBitmap((BitmapType*)v->tileBuffer, (int16_t)(tile->x - v->scrollX),
                  (int16_t)(tile->y - v->scrollY));
}

static void DrawTileByLines(Viewer* v, const VwTile* tile) {
    const uint8_t* bits = v->tileBuffer + v->bitsOffset;
    uint16_t left = Max16(tile->x, v->scrollX);
    uint16_t right =
        Min16((uint16_t)(tile->x + tile->columns), (uint16_t)(v->scrollX + v->viewWidth));
    uint16_t top = Max16(tile->y, v->scrollY);
    uint16_t bottom =
        Min16((uint16_t)(tile->y + tile->rows), (uint16_t)(v->scrollY + v->viewHeight));
    uint16_t row;

    if (left >= right || top >= bottom) {
        return;
    }
    VwWriteBitmapHeader(&v->pic, (uint16_t)(right - left), 1,
                        (uint16_t)(kMaxLinePixels * v->pic.bitsPerPixel / 8), v->line);
    for (row = top; row < bottom; ++row) {
        const uint8_t* src = bits + (uint32_t)(row - tile->y) * tile->rowBytes;
        VwCopyPixels(src, (uint16_t)(left - tile->x), v->line + v->bitsOffset, 0,
                     (uint16_t)(right - left), v->pic.bitsPerPixel);
        WinDrawBitmap((BitmapType*)v->line, (int16_t)(left - v->scrollX),
                      (int16_t)(row - v->scrollY));
    }
}

/* Draws the visible part of the picture; 0 when a tile cannot be decoded. */
static uint16_t Draw(Viewer* v) {
    const VwPicture* pic = &v->pic;
    uint16_t firstBand = v->scrollY / pic->tileSize;
    uint16_t lastBand = (uint16_t)((v->scrollY + v->viewHeight - 1) / pic->tileSize);
    uint16_t firstColumn = v->scrollX / pic->tileSize;
    uint16_t lastColumn = (uint16_t)((v->scrollX + v->viewWidth - 1) / pic->tileSize);
    uint16_t band, column;

    for (band = firstBand; band <= lastBand; ++band) {
        for (column = firstColumn; column <= lastColumn; ++column) {
            VwTile tile;
            if (!LoadTile(v, (uint16_t)(band * pic->tilesAcross + column), &tile)) {
                return 0;
            }
            if (v->fast) {
                DrawTileFast(v, &tile);
            } else {
                DrawTileByLines(v, &tile);
            }
        }
    }
    return 1;
}

static void Redraw(Viewer* v) {
    if (!Draw(v)) {
        v->failed = 1;
    }
}

static void ChooseMode(Viewer* v) {
    FormType* form = FrmInitForm(kModeForm);
    uint16_t button;
    if (form == 0) {
        return;
    }
    button = FrmDoDialog(form);
    FrmDeleteForm(form);
    if (button == kModeFastButton) {
        v->fast = 1;
    } else if (button == kModeCompatibleButton) {
        v->fast = 0;
    }
    Redraw(v);
}

/* Scrolls by a screen; redraws only when the position changed. */
static void Scroll(Viewer* v, int16_t dx, int16_t dy) {
    uint16_t x = VwScroll(v->scrollX, dx, v->pic.width, v->viewWidth);
    uint16_t y = VwScroll(v->scrollY, dy, v->pic.height, v->viewHeight);
    if (x != v->scrollX || y != v->scrollY) {
        v->scrollX = x;
        v->scrollY = y;
        Redraw(v);
    }
}

static uint16_t HandleKey(Viewer* v, const EventType* event) {
    int16_t across = (int16_t)v->viewWidth;
    int16_t down = (int16_t)v->viewHeight;
    switch (event->data.keyDown.chr) {
        case kPageDownChr:
            Scroll(v, 0, down);
            return 1;
        case kPageUpChr:
            Scroll(v, 0, (int16_t)-down);
            return 1;
        case kHard2Chr:
            Scroll(v, (int16_t)-across, 0);
            return 1;
        case kHard3Chr:
            Scroll(v, across, 0);
            return 1;
        case kHard1Chr:
            ChooseMode(v);
            return 1;
        default:
            return 0;
    }
}

static void EventLoop(Viewer* v) {
    EventType event;
    do {
        EvtGetEvent(&event, kEvtWaitForever);
        if (event.eType == kKeyDownEvent && HandleKey(v, &event)) {
            continue;
        }
        if (event.eType == kPenDownEvent && event.screenX >= 0 && event.screenY >= 0 &&
            (uint16_t)event.screenY < v->viewHeight && (uint16_t)event.screenX < v->viewWidth) {
            ChooseMode(v);
            continue;
        }
        if (SysHandleEvent(&event)) {
            continue;
        }
        if (event.eType == kFrmUpdateEvent) {
            Redraw(v);
        }
    } while (event.eType != kAppStopEvent && !v->failed);
}

/* The screen depths the system can show: bit n - 1 stands for depth n. */
static uint32_t SupportedDepths(uint32_t rom) {
    uint32_t depths = 0;
    if (rom < kColorRomVersion) {
        return 1; /* one bit per pixel only */
    }
    if (WinScreenMode(kScreenModeGetSupportedDepths, 0, 0, &depths, 0) != 0) {
        return 1;
    }
    return depths;
}

/* Bytes the viewer needs from the dynamic heap: its state, one decoded tile, and the
 * screen buffer the system may allocate when the depth changes, plus a reserve. */
static uint32_t MemoryNeeded(const VwPicture* pic, uint32_t tileBytes) {
    uint32_t screen = (uint32_t)kMaxLinePixels * kMaxLinePixels / 8 * pic->bitsPerPixel;
    return sizeof(Viewer) + tileBytes + screen + kSystemReserve;
}

static uint16_t Run(uint32_t rom) {
    Viewer* v;
    VwPicture pic;
    MemHandle head;
    FormType* form;
    uint32_t freeBytes = 0, maxChunk = 0, tileBytes = 0, depth;
    int16_t screenWidth = 0, screenHeight = 0;
    uint16_t alert = 0, depthSet = 0, paletteSet = 0;

    head = DmGetResource(kFourCC('H', 'E', 'A', 'D'), 0);
    if (head == 0) {
        FrmAlert(kAlertCannotShow);
        return 1;
    }
    if (VwParseHead((const uint8_t*)MemHandleLock(head), MemHandleSize(head), &pic) != kVwOk ||
        !TilesPresent(&pic)) {
        alert = kAlertCannotShow;
    } else if ((SupportedDepths(rom) & (1UL << (pic.bitsPerPixel - 1))) == 0 ||
               (pic.bitsPerPixel == 8 && rom < kPaletteRomVersion)) {
        alert = kAlertCannotShow;
    } else {
        tileBytes = VwBitmapBitsOffset(&pic) + VwMaxTileBytes(&pic);
        if (MemHeapFreeBytes(0, &freeBytes, &maxChunk) != 0 || maxChunk < tileBytes ||
            freeBytes < MemoryNeeded(&pic, tileBytes)) {
            alert = kAlertNoMemory;
        }
    }
    v = 0;
    if (alert == 0) {
        v = (Viewer*)MemPtrNew(sizeof(Viewer));
        if (v != 0) {
            v->tileBuffer = (uint8_t*)MemPtrNew(tileBytes);
            if (v->tileBuffer == 0) {
                MemPtrFree(v);
                v = 0;
            }
        }
        if (v == 0) {
            alert = kAlertNoMemory;
        }
    }
    if (alert != 0) {
        MemHandleUnlock(head);
        DmReleaseResource(head);
        FrmAlert(alert);
        return 1;
    }

    v->pic = pic;
    v->headHandle = head;
    v->bitsOffset = VwBitmapBitsOffset(&pic);
    /* The colour tables stay in place; each drawing writes only the header. */
    VwWriteBitmapColorTable(&pic, v->tileBuffer);
    VwWriteBitmapColorTable(&pic, v->line);
    v->scrollX = v->scrollY = 0;
    v->fast = 1;
    v->failed = 0;
    if (rom >= kColorRomVersion) {
        depth = pic.bitsPerPixel;
        depthSet = WinScreenMode(kScreenModeSet, 0, 0, &depth, 0) == 0;
    }
    if (pic.bitsPerPixel == 8) {
        /* The screen takes the very table the bitmaps carry, so that matching their
         * colours finds each one exactly and copying their indices shows them right. */
        paletteSet = WinPalette(kPaletteSet, 0, 256, v->tileBuffer + kVwBitmapHeaderSize + 2) == 0;
    }
    WinGetDisplayExtent(&screenWidth, &screenHeight);
    if (screenWidth <= 0 || screenWidth > kMaxLinePixels) {
        screenWidth = kMaxLinePixels;
    }
    if (screenHeight <= 0) {
        screenHeight = kMaxLinePixels;
    }
    v->viewWidth = Min16((uint16_t)screenWidth, pic.width);
    v->viewHeight = Min16((uint16_t)screenHeight, pic.height);

    form = FrmInitForm(kMainForm);
    if (form != 0) {
        FrmSetActiveForm(form);
        FrmDrawForm(form);
    } else {
        WinEraseWindow();
    }
    Redraw(v);
    if (!v->failed) {
        EventLoop(v);
    }
    if (v->failed) {
        FrmAlert(kAlertCannotShow);
    }

    if (form != 0) {
        FrmDeleteForm(form);
    }
    if (paletteSet) {
        WinPalette(kPaletteSetToDefault, 0, 256, 0);
    }
    if (depthSet) {
        WinScreenMode(kScreenModeSetToDefaults, 0, 0, 0, 0);
    }
    MemPtrFree(v->tileBuffer);
    MemPtrFree(v);
    MemHandleUnlock(head);
    DmReleaseResource(head);
    return 0;
}

uint32_t PilotMain(uint16_t cmd, MemPtr params, uint16_t flags) {
    uint32_t rom = 0;
    (void)params;
    (void)flags;
    if (cmd != kLaunchCmdNormal) {
        return 0;
    }
    if (FtrGet(kFtrSystemCreator, kFtrRomVersion, &rom) != 0 || rom < kMinRomVersion) {
        FrmAlert(kAlertOldSystem);
        return 0;
    }
    return Run(rom);
}
