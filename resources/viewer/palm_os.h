/* The handful of Palm OS system calls, types and constants the viewer uses.
 *
 * A system call is `trap #15` followed by its 16-bit trap number. The system reads the
 * arguments from the caller's stack exactly as a called function would: first argument
 * on top, pointers and 32-bit values as four bytes, 16-bit values as two, and 1-byte
 * values (UInt8, Boolean, the small enums) in a 2-byte slot of their own whose first,
 * high-order byte holds the value, which is where `move.b` to -(sp) puts it. Each
 * wrapper pushes its own arguments, at the sizes of the system's prototype noted above
 * it, right before the trap and removes them afterwards; an ordinary function holding
 * the trap would put its return address in the way.
 * Results come back in D0 (integers) or A0 (pointers); D0-D2 and A0-A1 are not kept.
 * Inputs are held in registers, never in stack slots, because the pushes move the stack
 * pointer under any stack-relative operand. */
#ifndef CC_VIEWER_PALM_OS_H
#define CC_VIEWER_PALM_OS_H

#include <stdint.h>

typedef uint16_t Err;
typedef void* MemHandle;
typedef void* MemPtr;
typedef struct FormOpaque FormType;

/* Trap numbers. */
#define kTrapMemHeapFreeBytes 0xA00B
#define kTrapMemChunkFree 0xA012
#define kTrapMemPtrNew 0xA013
#define kTrapMemHandleLock 0xA021
#define kTrapMemHandleUnlock 0xA022
#define kTrapMemHandleSize 0xA02D
#define kTrapDmGetResource 0xA05F
#define kTrapDmReleaseResource 0xA061
#define kTrapSysAppStartup 0xA08F
#define kTrapSysAppExit 0xA090
#define kTrapSysHandleEvent 0xA0A9
#define kTrapEvtGetEvent 0xA11D
#define kTrapFrmInitForm 0xA16F
#define kTrapFrmDeleteForm 0xA170
#define kTrapFrmDrawForm 0xA171
#define kTrapFrmSetActiveForm 0xA174
#define kTrapFrmAlert 0xA192
#define kTrapFrmDoDialog 0xA193
#define kTrapWinEraseWindow 0xA206
#define kTrapWinGetDisplayExtent 0xA20B
#define kTrapWinDrawBitmap 0xA226
#define kTrapFtrGet 0xA27B
#define kTrapWinScreenMode 0xA33E
#define kTrapWinPalette 0xA39D

#define PALM_STR(x) #x
#define PALM_TRAP(n) "trap #15\n\t.word " PALM_STR(n) "\n\t"
/* Registers a call may change besides the one holding its result. */
#define PALM_CLOBBERS "d0", "d1", "d2", "a1", "cc", "memory"
#define PALM_CLOBBERS_D0 "d1", "d2", "a0", "a1", "cc", "memory"
#define PALM_INLINE static inline __attribute__((always_inline))

/* Launch codes and flags. */
#define kLaunchCmdNormal 0

/* Features. */
#define kFtrSystemCreator 0x70737973UL /* 'psys' */
#define kFtrRomVersion 1

/* Events (EventType as the system lays it out: 24 bytes). */
enum {
    kNilEvent = 0,
    kPenDownEvent = 1,
    kKeyDownEvent = 4,
    kAppStopEvent = 22,
    kFrmUpdateEvent = 26
};
typedef struct EventType {
    uint16_t eType;
    uint8_t penDown;
    uint8_t tapCount;
    int16_t screenX;
    int16_t screenY;
    union {
        struct {
            uint16_t chr;
            uint16_t keyCode;
            uint16_t modifiers;
        } keyDown;
        uint16_t raw[8];
    } data;
} EventType;
#define kEvtWaitForever (-1L)

/* Key characters and modifiers. */
#define kPageUpChr 0x000B
#define kPageDownChr 0x000C
#define kHard1Chr 0x0204
#define kHard2Chr 0x0205
#define kHard3Chr 0x0206
#define kHard4Chr 0x0207
#define kCommandKeyMask 0x0008

/* Screen modes and palette operations. */
#define kScreenModeGetSupportedDepths 4
#define kScreenModeSet 3
#define kScreenModeSetToDefaults 2
#define kPaletteSet 1
#define kPaletteSetToDefault 2

/* A bitmap as the system draws it; viewer_core writes its layout byte by byte. */
typedef struct BitmapOpaque BitmapType;

/* Application information handed out by the start-up call; only the launch
 * arguments at its start are read. */
typedef struct SysAppInfoType {
    int16_t cmd;
    MemPtr cmdPBP;
    uint16_t launchFlags;
} SysAppInfoType;

/* Err SysAppStartup(SysAppInfoPtr *appInfoPP, MemPtr *prevGlobalsP, MemPtr *globalsPtrP) */
PALM_INLINE Err SysAppStartup(SysAppInfoType** appInfo, MemPtr* prevGlobals, MemPtr* globals) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %3,-(%%sp)\n\tmove.l %2,-(%%sp)\n\tmove.l %1,-(%%sp)\n\t" PALM_TRAP(
                         kTrapSysAppStartup) "lea 12(%%sp),%%sp"
                     : "=d"(result)
                     : "a"(appInfo), "a"(prevGlobals), "a"(globals)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* Err SysAppExit(SysAppInfoPtr appInfoP, MemPtr prevGlobalsP, MemPtr globalsP) */
PALM_INLINE Err SysAppExit(SysAppInfoType* appInfo, MemPtr prevGlobals, MemPtr globals) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %3,-(%%sp)\n\tmove.l %2,-(%%sp)\n\tmove.l %1,-(%%sp)\n\t" PALM_TRAP(
                         kTrapSysAppExit) "lea 12(%%sp),%%sp"
                     : "=d"(result)
                     : "r"(appInfo), "r"(prevGlobals), "r"(globals)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* Err FtrGet(UInt32 creator, UInt16 featureNum, UInt32 *valueP) */
PALM_INLINE Err FtrGet(uint32_t creator, uint16_t number, uint32_t* value) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %3,-(%%sp)\n\tmove.w %2,-(%%sp)\n\tmove.l %1,-(%%sp)\n\t" PALM_TRAP(
                         kTrapFtrGet) "lea 10(%%sp),%%sp"
                     : "=d"(result)
                     : "r"(creator), "r"(number), "r"(value)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* Err MemHeapFreeBytes(UInt16 heapID, UInt32 *freeP, UInt32 *maxP) */
PALM_INLINE Err MemHeapFreeBytes(uint16_t heapId, uint32_t* freeBytes, uint32_t* maxChunk) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %3,-(%%sp)\n\tmove.l %2,-(%%sp)\n\tmove.w %1,-(%%sp)\n\t" PALM_TRAP(
                         kTrapMemHeapFreeBytes) "lea 10(%%sp),%%sp"
                     : "=d"(result)
                     : "r"(heapId), "r"(freeBytes), "r"(maxChunk)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* MemPtr MemPtrNew(UInt32 size) */
PALM_INLINE MemPtr MemPtrNew(uint32_t size) {
    register MemPtr result __asm__("a0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapMemPtrNew) "addq.l #4,%%sp"
                     : "=a"(result)
                     : "r"(size)
                     : PALM_CLOBBERS);
    return result;
}

/* Err MemChunkFree(MemPtr chunkDataP), which MemPtrFree stands for */
PALM_INLINE Err MemPtrFree(MemPtr p) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapMemChunkFree) "addq.l #4,%%sp"
                     : "=d"(result)
                     : "r"(p)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* MemPtr MemHandleLock(MemHandle h) */
PALM_INLINE MemPtr MemHandleLock(MemHandle h) {
    register MemPtr result __asm__("a0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapMemHandleLock) "addq.l #4,%%sp"
                     : "=a"(result)
                     : "r"(h)
                     : PALM_CLOBBERS);
    return result;
}

/* Err MemHandleUnlock(MemHandle h) */
PALM_INLINE Err MemHandleUnlock(MemHandle h) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapMemHandleUnlock) "addq.l #4,%%sp"
                     : "=d"(result)
                     : "r"(h)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* UInt32 MemHandleSize(MemHandle h) */
PALM_INLINE uint32_t MemHandleSize(MemHandle h) {
    register uint32_t result __asm__("d0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapMemHandleSize) "addq.l #4,%%sp"
                     : "=d"(result)
                     : "r"(h)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* MemHandle DmGetResource(DmResType type, DmResID resID): 32 and 16 bits */
PALM_INLINE MemHandle DmGetResource(uint32_t type, uint16_t id) {
    register MemHandle result __asm__("a0");
    __asm__ volatile(
        "move.w %2,-(%%sp)\n\tmove.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapDmGetResource) "addq.l #6,%%sp"
        : "=a"(result)
        : "r"(type), "r"(id)
        : PALM_CLOBBERS);
    return result;
}

/* Err DmReleaseResource(MemHandle resourceH) */
PALM_INLINE Err DmReleaseResource(MemHandle h) {
    register Err result __asm__("d0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapDmReleaseResource) "addq.l #4,%%sp"
                     : "=d"(result)
                     : "r"(h)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* void EvtGetEvent(EventType *event, Int32 timeout) */
PALM_INLINE void EvtGetEvent(EventType* event, int32_t timeout) {
    __asm__ volatile(
        "move.l %1,-(%%sp)\n\tmove.l %0,-(%%sp)\n\t" PALM_TRAP(kTrapEvtGetEvent) "addq.l #8,%%sp"
        :
        : "r"(event), "r"(timeout)
        : PALM_CLOBBERS, "a0");
}

/* Boolean SysHandleEvent(EventPtr eventP): the result is the low byte of D0 */
PALM_INLINE uint8_t SysHandleEvent(EventType* event) {
    register uint8_t result __asm__("d0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapSysHandleEvent) "addq.l #4,%%sp"
                     : "=d"(result)
                     : "r"(event)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* FormType *FrmInitForm(UInt16 rscID) */
PALM_INLINE FormType* FrmInitForm(uint16_t id) {
    register FormType* result __asm__("a0");
    __asm__ volatile("move.w %1,-(%%sp)\n\t" PALM_TRAP(kTrapFrmInitForm) "addq.l #2,%%sp"
                     : "=a"(result)
                     : "r"(id)
                     : PALM_CLOBBERS);
    return result;
}

/* void FrmDeleteForm(FormType *formP), FrmDrawForm, FrmSetActiveForm alike */
#define PALM_FORM_CALL(name, trap)                                                \
    PALM_INLINE void name(FormType* form) {                                       \
        __asm__ volatile("move.l %0,-(%%sp)\n\t" PALM_TRAP(trap) "addq.l #4,%%sp" \
                         :                                                        \
                         : "r"(form)                                              \
                         : PALM_CLOBBERS, "a0");                                  \
    }
PALM_FORM_CALL(FrmDeleteForm, kTrapFrmDeleteForm)
PALM_FORM_CALL(FrmDrawForm, kTrapFrmDrawForm)
PALM_FORM_CALL(FrmSetActiveForm, kTrapFrmSetActiveForm)

/* UInt16 FrmDoDialog(FormType *formP) */
PALM_INLINE uint16_t FrmDoDialog(FormType* form) {
    register uint16_t result __asm__("d0");
    __asm__ volatile("move.l %1,-(%%sp)\n\t" PALM_TRAP(kTrapFrmDoDialog) "addq.l #4,%%sp"
                     : "=d"(result)
                     : "r"(form)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* UInt16 FrmAlert(UInt16 alertId) */
PALM_INLINE uint16_t FrmAlert(uint16_t id) {
    register uint16_t result __asm__("d0");
    __asm__ volatile("move.w %1,-(%%sp)\n\t" PALM_TRAP(kTrapFrmAlert) "addq.l #2,%%sp"
                     : "=d"(result)
                     : "r"(id)
                     : PALM_CLOBBERS_D0);
    return result;
}

/* void WinEraseWindow(void) */
PALM_INLINE void WinEraseWindow(void) {
    __asm__ volatile(PALM_TRAP(kTrapWinEraseWindow) "" : : : PALM_CLOBBERS, "a0");
}

/* void WinGetDisplayExtent(Coord *extentX, Coord *extentY) */
PALM_INLINE void WinGetDisplayExtent(int16_t* width, int16_t* height) {
    __asm__ volatile("move.l %1,-(%%sp)\n\tmove.l %0,-(%%sp)\n\t" PALM_TRAP(
                         kTrapWinGetDisplayExtent) "addq.l #8,%%sp"
                     :
                     : "r"(width), "r"(height)
                     : PALM_CLOBBERS, "a0");
}

/* void WinDrawBitmap(BitmapPtr bitmapP, Coord x, Coord y): Coord is 16 bits */
PALM_INLINE void WinDrawBitmap(BitmapType* bitmap, int16_t x, int16_t y) {
    __asm__ volatile("move.w %2,-(%%sp)\n\tmove.w %1,-(%%sp)\n\tmove.l %0,-(%%sp)\n\t" PALM_TRAP(
                         kTrapWinDrawBitmap) "addq.l #8,%%sp"
                     :
                     : "r"(bitmap), "r"(x), "r"(y)
                     : PALM_CLOBBERS, "a0");
}

/* Err WinScreenMode(WinScreenModeOperation operation, UInt32 *widthP, UInt32 *heightP,
 *                   UInt32 *depthP, Boolean *enableColorP): the operation is a 1-byte enum.
 * Byte operands sit in data registers: the 68000 has no byte moves from address
 * registers. */
PALM_INLINE Err WinScreenMode(uint8_t operation, uint32_t* width, uint32_t* height, uint32_t* depth,
                              uint8_t* enableColor) {
    register Err result __asm__("d0");
    __asm__ volatile(
        "move.l %5,-(%%sp)\n\tmove.l %4,-(%%sp)\n\tmove.l %3,-(%%sp)\n\tmove.l "
        "%2,-(%%sp)\n\tmove.b %1,-(%%sp)\n\t" PALM_TRAP(kTrapWinScreenMode) "lea 18(%%sp),%%sp"
        : "=d"(result)
        : "d"(operation), "r"(width), "r"(height), "r"(depth), "r"(enableColor)
        : PALM_CLOBBERS_D0);
    return result;
}

/* Err WinPalette(UInt8 operation, Int16 startIndex, UInt16 paletteEntries,
 *                RGBColorType *tableP) */
PALM_INLINE Err WinPalette(uint8_t operation, int16_t start, uint16_t count, const uint8_t* table) {
    register Err result __asm__("d0");
    __asm__ volatile(
        "move.l %4,-(%%sp)\n\tmove.w %3,-(%%sp)\n\tmove.w %2,-(%%sp)\n\tmove.b "
        "%1,-(%%sp)\n\t" PALM_TRAP(kTrapWinPalette) "lea 10(%%sp),%%sp"
        : "=d"(result)
        : "d"(operation), "r"(start), "r"(count), "r"(table)
        : PALM_CLOBBERS_D0);
    return result;
}

#endif
