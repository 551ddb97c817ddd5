// DLP, the desktop link protocol: request and response framing, argument wrappers, and
// one declaration per request the installer sends. The public calls (DlpOpenDB, ...) are
// in hotsync.h; this header is the wire side, shared with the tests.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <vector>

#include "hotsync/wire.h"

namespace hotsync::dlp {

// ---- framing ----------------------------------------------------------------------------

constexpr uint8_t kResponseBit = 0x80;
constexpr uint8_t kFirstArgId = 0x20;
constexpr uint8_t kArgIdMask = 0x3F;

// Argument wrapper forms, told apart by bits 7-6 of the first byte.
constexpr uint8_t kSmallForm = 0x80;
constexpr uint8_t kLongForm = 0x40;
constexpr size_t kMaxTinyData = 0xFF;
constexpr size_t kMaxSmallData = 0xFFFF;

struct RequestHeader {
    uint8_t function = 0;
    uint8_t argc = 0;

    template <class F>
    void Fields(F& f) {
        f(function);
        f(argc);
    }
};

struct ResponseHeader {
    uint8_t function = 0;
    uint8_t argc = 0;
    uint16_t error = 0;

    template <class F>
    void Fields(F& f) {
        f(function);
        f(argc);
        f(error);
    }
};

struct TinyWrapper {
    uint8_t id = 0;
    uint8_t length = 0;

    template <class F>
    void Fields(F& f) {
        f(id);
        f(length);
    }
};

struct SmallWrapper {
    uint8_t id = 0;  // with kSmallForm
    uint8_t pad = 0;
    uint16_t length = 0;

    template <class F>
    void Fields(F& f) {
        f(id);
        f(pad);
        f(length);
    }
};

struct LongWrapper {
    uint8_t id = 0;  // with kLongForm
    uint8_t pad = 0;
    uint32_t length = 0;

    template <class F>
    void Fields(F& f) {
        f(id);
        f(pad);
        f(length);
    }
};

struct Argument {
    uint8_t id = kFirstArgId;
    std::vector<uint8_t> data;
};

// A request message; each argument in the smallest wrapper that holds it.
std::vector<uint8_t> EncodeRequest(uint8_t function, const std::vector<Argument>& args);

struct Response {
    ResponseHeader header;
    std::vector<Argument> args;
};

// False when the message is shorter than its header or an argument runs past its end.
bool DecodeResponse(std::span<const uint8_t> message, Response& response);

// ---- shared structures ------------------------------------------------------------------

struct DateTime {
    uint16_t year = 0;  // 0 = no date
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint8_t pad = 0;

    template <class F>
    void Fields(F& f) {
        f(year);
        f(month);
        f(day);
        f(hour);
        f(minute);
        f(second);
        f(pad);
    }
};

// Local time both ways; 0 is "no date" both ways.
DateTime ToDateTime(time_t localTime);
time_t FromDateTime(const DateTime& dateTime);

struct DbInfoHeader {
    uint8_t totalSize = 0;
    uint8_t miscFlags = 0;
    uint16_t attributes = 0;
    uint32_t type = 0;
    uint32_t creator = 0;
    uint16_t version = 0;
    uint32_t modificationNumber = 0;
    DateTime creationDate;
    DateTime modificationDate;
    DateTime backupDate;
    uint16_t index = 0;
    std::string name;

    template <class F>
    void Fields(F& f) {
        f(totalSize);
        f(miscFlags);
        f(attributes);
        f(type);
        f(creator);
        f(version);
        f(modificationNumber);
        f(creationDate);
        f(modificationDate);
        f(backupDate);
        f(index);
        f(name);
    }
};

// ---- requests ---------------------------------------------------------------------------
// Each request names its function code and, when it has one, the id of its argument;
// Fields() is the argument's layout. A response type names the argument it decodes.

struct ReadUserInfoRequest {
    static constexpr uint8_t kFunction = 0x10;
    template <class F>
    void Fields(F&) {}
};
struct ReadUserInfoResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t userId = 0;
    uint32_t viewerId = 0;
    uint32_t lastSyncPc = 0;
    DateTime successfulSyncDate;
    DateTime lastSyncDate;
    uint8_t userNameLength = 0;  // with its NUL
    uint8_t passwordLength = 0;
    std::vector<uint8_t> nameAndPassword;

    template <class F>
    void Fields(F& f) {
        f(userId);
        f(viewerId);
        f(lastSyncPc);
        f(successfulSyncDate);
        f(lastSyncDate);
        f(userNameLength);
        f(passwordLength);
        f(nameAndPassword);
    }
};

struct WriteUserInfoRequest {
    static constexpr uint8_t kFunction = 0x11;
    static constexpr uint8_t kArg = 0x20;
    static constexpr uint8_t kModifyAll = 0xFF;
    static constexpr size_t kMaxUserName = 40;
    uint32_t userId = 0;
    uint32_t viewerId = 0;
    uint32_t lastSyncPc = 0;
    DateTime lastSyncDate;
    uint8_t modifyFlags = kModifyAll;
    uint8_t userNameLength = 0;  // with its NUL
    std::string userName;

    template <class F>
    void Fields(F& f) {
        f(userId);
        f(viewerId);
        f(lastSyncPc);
        f(lastSyncDate);
        f(modifyFlags);
        f(userNameLength);
        f(userName);
    }
};

struct ReadSysInfoRequest {
    static constexpr uint8_t kFunction = 0x12;
    static constexpr uint8_t kArg = 0x20;
    uint16_t hostMajor = 1;
    uint16_t hostMinor = 4;

    template <class F>
    void Fields(F& f) {
        f(hostMajor);
        f(hostMinor);
    }
};
struct ReadSysInfoResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t romVersion = 0;
    uint32_t locale = 0;
    uint8_t pad = 0;
    uint8_t productIdLength = 0;
    std::vector<uint8_t> productId;

    template <class F>
    void Fields(F& f) {
        f(romVersion);
        f(locale);
        f(pad);
        f(productIdLength);
        f(productId);
    }
};
struct ReadSysInfoVersions {  // second answer argument, DLP 1.2 and later
    static constexpr uint8_t kArg = 0x21;
    uint16_t dlpMajor = 0;
    uint16_t dlpMinor = 0;
    uint16_t compatMajor = 0;
    uint16_t compatMinor = 0;
    uint32_t maxRecordSize = 0;

    template <class F>
    void Fields(F& f) {
        f(dlpMajor);
        f(dlpMinor);
        f(compatMajor);
        f(compatMinor);
        f(maxRecordSize);
    }
};

struct SetSysDateTimeRequest {
    static constexpr uint8_t kFunction = 0x14;
    static constexpr uint8_t kArg = 0x20;
    DateTime time;

    template <class F>
    void Fields(F& f) {
        f(time);
    }
};

struct ReadStorageInfoRequest {
    static constexpr uint8_t kFunction = 0x15;
    static constexpr uint8_t kArg = 0x20;
    uint8_t firstCard = 0;
    uint8_t pad = 0;

    template <class F>
    void Fields(F& f) {
        f(firstCard);
        f(pad);
    }
};
struct ReadStorageInfoResponse {
    static constexpr uint8_t kArg = 0x20;
    uint8_t lastCard = 0;
    uint8_t more = 0;
    uint8_t pad = 0;
    uint8_t count = 0;
    std::vector<uint8_t> cards;  // count CardRecords

    template <class F>
    void Fields(F& f) {
        f(lastCard);
        f(more);
        f(pad);
        f(count);
        f(cards);
    }
};
struct CardRecord {
    uint8_t size = 0;  // of this record, rounded up to even
    uint8_t cardNumber = 0;
    uint16_t cardVersion = 0;
    DateTime creationDate;
    uint32_t romSize = 0;
    uint32_t ramSize = 0;
    uint32_t freeRam = 0;
    uint8_t nameLength = 0;
    uint8_t manufacturerLength = 0;

    template <class F>
    void Fields(F& f) {
        f(size);
        f(cardNumber);
        f(cardVersion);
        f(creationDate);
        f(romSize);
        f(ramSize);
        f(freeRam);
        f(nameLength);
        f(manufacturerLength);
    }
};

struct ReadDbListRequest {
    static constexpr uint8_t kFunction = 0x16;
    static constexpr uint8_t kArg = 0x20;
    static constexpr uint8_t kRam = 0x80;
    static constexpr uint8_t kRom = 0x40;
    static constexpr uint8_t kMultiple = 0x20;  // several per answer, DLP 1.2 and later
    uint8_t flags = kRam;
    uint8_t card = 0;
    uint16_t start = 0;

    template <class F>
    void Fields(F& f) {
        f(flags);
        f(card);
        f(start);
    }
};
struct ReadDbListResponse {
    static constexpr uint8_t kArg = 0x20;
    static constexpr uint8_t kMore = 0x80;
    uint16_t lastIndex = 0;
    uint8_t flags = 0;
    uint8_t count = 0;
    std::vector<uint8_t> entries;  // count DbInfoHeaders, each advanced by its totalSize

    template <class F>
    void Fields(F& f) {
        f(lastIndex);
        f(flags);
        f(count);
        f(entries);
    }
};

struct OpenDbRequest {
    static constexpr uint8_t kFunction = 0x17;
    static constexpr uint8_t kArg = 0x20;
    uint8_t card = 0;
    uint8_t mode = 0;
    std::string name;

    template <class F>
    void Fields(F& f) {
        f(card);
        f(mode);
        f(name);
    }
};
struct HandleResponse {  // OpenDB and CreateDB
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;

    template <class F>
    void Fields(F& f) {
        f(handle);
    }
};

struct CreateDbRequest {
    static constexpr uint8_t kFunction = 0x18;
    static constexpr uint8_t kArg = 0x20;
    uint32_t creator = 0;
    uint32_t type = 0;
    uint8_t card = 0;
    uint8_t pad = 0;
    uint16_t attributes = 0;
    uint16_t version = 0;
    std::string name;

    template <class F>
    void Fields(F& f) {
        f(creator);
        f(type);
        f(card);
        f(pad);
        f(attributes);
        f(version);
        f(name);
    }
};

struct CloseDbRequest {
    static constexpr uint8_t kFunction = 0x19;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;

    template <class F>
    void Fields(F& f) {
        f(handle);
    }
};
struct CloseAllDbsRequest {  // the same function with its empty "all" argument
    static constexpr uint8_t kFunction = 0x19;
    static constexpr uint8_t kArg = 0x21;
    template <class F>
    void Fields(F&) {}
};

struct DeleteDbRequest {
    static constexpr uint8_t kFunction = 0x1A;
    static constexpr uint8_t kArg = 0x20;
    uint8_t card = 0;
    uint8_t pad = 0;
    std::string name;

    template <class F>
    void Fields(F& f) {
        f(card);
        f(pad);
        f(name);
    }
};

struct ReadAppBlockRequest {
    static constexpr uint8_t kFunction = 0x1B;
    static constexpr uint8_t kArg = 0x20;
    static constexpr uint16_t kToEnd = 0xFFFF;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint16_t offset = 0;
    uint16_t count = kToEnd;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(offset);
        f(count);
    }
};
struct BlockResponse {  // ReadAppBlock and ReadSortBlock
    static constexpr uint8_t kArg = 0x20;
    uint16_t size = 0;
    std::vector<uint8_t> data;

    template <class F>
    void Fields(F& f) {
        f(size);
        f(data);
    }
};

struct WriteAppBlockRequest {
    static constexpr uint8_t kFunction = 0x1C;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint16_t blockSize = 0;
    std::vector<uint8_t> data;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(blockSize);
        f(data);
    }
};

struct ReadSortBlockRequest : ReadAppBlockRequest {  // the same layout
    static constexpr uint8_t kFunction = 0x1D;
};

struct WriteSortBlockRequest : WriteAppBlockRequest {  // the same layout
    static constexpr uint8_t kFunction = 0x1E;
};

struct ReadRecordByIdRequest {
    static constexpr uint8_t kFunction = 0x20;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint32_t id = 0;
    uint16_t offset = 0;
    uint16_t count = 0xFFFF;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(id);
        f(offset);
        f(count);
    }
};
struct ReadRecordByIndexRequest {
    static constexpr uint8_t kFunction = 0x20;
    static constexpr uint8_t kArg = 0x21;
    static constexpr uint16_t kToEnd = 0xFFFF;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint16_t index = 0;
    uint16_t offset = 0;
    uint16_t count = kToEnd;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(index);
        f(offset);
        f(count);
    }
};
struct ReadRecordResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t id = 0;
    uint16_t index = 0;
    uint16_t size = 0;
    uint8_t attributes = 0;
    uint8_t category = 0;
    std::vector<uint8_t> data;

    template <class F>
    void Fields(F& f) {
        f(id);
        f(index);
        f(size);
        f(attributes);
        f(category);
        f(data);
    }
};

struct WriteRecordRequest {
    static constexpr uint8_t kFunction = 0x21;
    static constexpr uint8_t kArg = 0x20;
    static constexpr uint8_t kDataIncluded = 0x80;
    uint8_t handle = 0;
    uint8_t flags = kDataIncluded;
    uint32_t id = 0;
    uint8_t attributes = 0;
    uint8_t category = 0;
    std::vector<uint8_t> data;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(flags);
        f(id);
        f(attributes);
        f(category);
        f(data);
    }
};
struct RecordIdResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t id = 0;

    template <class F>
    void Fields(F& f) {
        f(id);
    }
};

struct ReadResourceByIndexRequest {
    static constexpr uint8_t kFunction = 0x23;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint16_t index = 0;
    uint16_t offset = 0;
    uint16_t count = 0xFFFF;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(index);
        f(offset);
        f(count);
    }
};
struct ReadResourceByTypeRequest {
    static constexpr uint8_t kFunction = 0x23;
    static constexpr uint8_t kArg = 0x21;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint32_t type = 0;
    uint16_t id = 0;
    uint16_t offset = 0;
    uint16_t count = 0xFFFF;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(type);
        f(id);
        f(offset);
        f(count);
    }
};
struct ReadResourceResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t type = 0;
    uint16_t id = 0;
    uint16_t index = 0;
    uint16_t size = 0;  // of the whole resource; data may hold only part of it
    std::vector<uint8_t> data;

    template <class F>
    void Fields(F& f) {
        f(type);
        f(id);
        f(index);
        f(size);
        f(data);
    }
};

struct WriteResourceRequest {
    static constexpr uint8_t kFunction = 0x24;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint32_t type = 0;
    uint16_t id = 0;
    uint16_t size = 0;  // 0xFFFF for a resource of 64 KB or more; the wrapper has the length
    std::vector<uint8_t> data;

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(type);
        f(id);
        f(size);
        f(data);
    }
};

struct ResetSyncFlagsRequest {
    static constexpr uint8_t kFunction = 0x27;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;

    template <class F>
    void Fields(F& f) {
        f(handle);
    }
};

struct ResetSystemRequest {
    static constexpr uint8_t kFunction = 0x29;
    template <class F>
    void Fields(F&) {}
};

struct ReadOpenDbInfoRequest {
    static constexpr uint8_t kFunction = 0x2B;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;

    template <class F>
    void Fields(F& f) {
        f(handle);
    }
};
struct OpenDbInfoResponse {
    static constexpr uint8_t kArg = 0x20;
    uint16_t entries = 0;  // records or resources

    template <class F>
    void Fields(F& f) {
        f(entries);
    }
};

struct OpenConduitRequest {
    static constexpr uint8_t kFunction = 0x2E;
    template <class F>
    void Fields(F&) {}
};

struct EndOfSyncRequest {
    static constexpr uint8_t kFunction = 0x2F;
    static constexpr uint8_t kArg = 0x20;
    uint16_t status = 0;

    template <class F>
    void Fields(F& f) {
        f(status);
    }
};

struct ReadFeatureRequest {
    static constexpr uint8_t kFunction = 0x38;
    static constexpr uint8_t kArg = 0x20;
    uint32_t creator = 0;
    uint16_t number = 0;

    template <class F>
    void Fields(F& f) {
        f(creator);
        f(number);
    }
};
struct FeatureResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t value = 0;

    template <class F>
    void Fields(F& f) {
        f(value);
    }
};

struct FindDbByHandleRequest {
    static constexpr uint8_t kFunction = 0x39;
    static constexpr uint8_t kArg = 0x21;
    static constexpr uint8_t kOptionAttributes = 0x80;
    uint8_t options = kOptionAttributes;
    uint8_t handle = 0;

    template <class F>
    void Fields(F& f) {
        f(options);
        f(handle);
    }
};
struct FindDbResponse {
    static constexpr uint8_t kArg = 0x20;
    uint8_t card = 0;
    uint8_t reserved = 0;
    uint32_t localId = 0;
    uint32_t openRef = 0;
    DbInfoHeader info;

    template <class F>
    void Fields(F& f) {
        f(card);
        f(reserved);
        f(localId);
        f(openRef);
        f(info);
    }
};

struct SetDbInfoRequest {  // DLP 1.2 and later
    static constexpr uint8_t kFunction = 0x3A;
    static constexpr uint8_t kArg = 0x20;
    uint8_t handle = 0;
    uint8_t pad = 0;
    uint16_t clearAttributes = 0;
    uint16_t setAttributes = 0;
    uint16_t version = 0;   // 0: unchanged
    DateTime creationDate;  // year 0: unchanged
    DateTime modificationDate;
    DateTime backupDate;
    uint32_t type = 0;  // 0: unchanged
    uint32_t creator = 0;
    std::string name;  // empty: unchanged

    template <class F>
    void Fields(F& f) {
        f(handle);
        f(pad);
        f(clearAttributes);
        f(setAttributes);
        f(version);
        f(creationDate);
        f(modificationDate);
        f(backupDate);
        f(type);
        f(creator);
        f(name);
    }
};
// FindDB by name: with kOptionSizes the answer's second argument counts the entries.
struct FindDbByNameRequest {
    static constexpr uint8_t kFunction = 0x39;
    static constexpr uint8_t kArg = 0x20;
    static constexpr uint8_t kOptionAttributes = 0x80;
    static constexpr uint8_t kOptionSizes = 0x40;
    uint8_t options = kOptionSizes;
    uint8_t card = 0;
    std::string name;

    template <class F>
    void Fields(F& f) {
        f(options);
        f(card);
        f(name);
    }
};
struct FindDbSizesResponse {
    static constexpr uint8_t kArg = 0x21;
    uint32_t recordCount = 0;
    uint32_t totalBytes = 0;
    uint32_t dataBytes = 0;
    // App-info size, sort-info size and largest record: filled only for the by-handle form.
    std::vector<uint8_t> byHandleOnly;

    template <class F>
    void Fields(F& f) {
        f(recordCount);
        f(totalBytes);
        f(dataBytes);
        f(byHandleOnly);
    }
};

// ---- expansion cards and VFS ------------------------------------------------------------
// Palm OS 4 and later answer these while reporting DLP 1.2; older units answer "illegal
// request". Every request carries one argument, 0x20.

struct ExpSlotEnumerateRequest {
    static constexpr uint8_t kFunction = 0x3C;
    template <class F>
    void Fields(F&) {}
};
// Slot and volume lists: a count, then that many 16-bit references.
struct RefListResponse {
    static constexpr uint8_t kArg = 0x20;
    uint16_t count = 0;
    std::vector<uint8_t> refs;  // count u16 references

    template <class F>
    void Fields(F& f) {
        f(count);
        f(refs);
    }
};

struct ExpCardPresentRequest {
    static constexpr uint8_t kFunction = 0x3D;
    static constexpr uint8_t kArg = 0x20;
    uint16_t slotRef = 0;

    template <class F>
    void Fields(F& f) {
        f(slotRef);
    }
};

// A volume and a path: VFSFileCreate, VFSFileDelete and VFSDirCreate share the layout.
template <uint8_t Function>
struct VfsPathRequest {
    static constexpr uint8_t kFunction = Function;
    static constexpr uint8_t kArg = 0x20;
    uint16_t volRef = 0;
    std::string path;

    template <class F>
    void Fields(F& f) {
        f(volRef);
        f(path);
    }
};
using VfsFileCreateRequest = VfsPathRequest<0x43>;

struct VfsFileOpenRequest {
    static constexpr uint8_t kFunction = 0x44;
    static constexpr uint8_t kArg = 0x20;
    uint16_t volRef = 0;
    uint16_t mode = 0;
    std::string path;

    template <class F>
    void Fields(F& f) {
        f(volRef);
        f(mode);
        f(path);
    }
};
// A file reference, or a 32-bit figure: VFSFileOpen's answer, VFSFileSize's, the bytes a
// VFSFileWrite took.
struct Value32Response {
    static constexpr uint8_t kArg = 0x20;
    uint32_t value = 0;

    template <class F>
    void Fields(F& f) {
        f(value);
    }
};

// A file reference alone: VFSFileClose and VFSFileSize.
template <uint8_t Function>
struct VfsFileRefRequest {
    static constexpr uint8_t kFunction = Function;
    static constexpr uint8_t kArg = 0x20;
    uint32_t fileRef = 0;

    template <class F>
    void Fields(F& f) {
        f(fileRef);
    }
};
using VfsFileCloseRequest = VfsFileRefRequest<0x45>;

// The first message of a write: the handheld answers without an argument, then takes the
// data as a message of its own and answers that with the bytes it wrote.
struct VfsFileWriteRequest {
    static constexpr uint8_t kFunction = 0x46;
    static constexpr uint8_t kArg = 0x20;
    uint32_t fileRef = 0;
    uint32_t length = 0;

    template <class F>
    void Fields(F& f) {
        f(fileRef);
        f(length);
    }
};

using VfsFileDeleteRequest = VfsPathRequest<0x48>;
using VfsDirCreateRequest = VfsPathRequest<0x50>;

struct VfsVolumeEnumerateRequest {
    static constexpr uint8_t kFunction = 0x55;
    template <class F>
    void Fields(F&) {}
};

// A volume alone: VFSVolumeInfo, VFSVolumeGetLabel and VFSVolumeSize.
template <uint8_t Function>
struct VfsVolumeRequest {
    static constexpr uint8_t kFunction = Function;
    static constexpr uint8_t kArg = 0x20;
    uint16_t volRef = 0;

    template <class F>
    void Fields(F& f) {
        f(volRef);
    }
};
using VfsVolumeInfoRequest = VfsVolumeRequest<0x56>;
struct VolumeInfoResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t attributes = 0;
    uint32_t fsType = 0;
    uint32_t fsCreator = 0;
    uint32_t mountClass = 0;
    uint16_t slotLibRef = 0;
    uint16_t slotRef = 0;
    uint32_t mediaType = 0;
    uint32_t reserved = 0;

    template <class F>
    void Fields(F& f) {
        f(attributes);
        f(fsType);
        f(fsCreator);
        f(mountClass);
        f(slotLibRef);
        f(slotRef);
        f(mediaType);
        f(reserved);
    }
};

using VfsVolumeGetLabelRequest = VfsVolumeRequest<0x57>;
struct VolumeLabelResponse {
    static constexpr uint8_t kArg = 0x20;
    std::string label;  // zero-terminated; one without its zero ends with the argument

    template <class F>
    void Fields(F& f) {
        f(label);
    }
};

using VfsVolumeSizeRequest = VfsVolumeRequest<0x59>;
struct VolumeSizeResponse {
    static constexpr uint8_t kArg = 0x20;
    uint32_t used = 0;
    uint32_t total = 0;

    template <class F>
    void Fields(F& f) {
        f(used);
        f(total);
    }
};

struct VfsFileResizeRequest {
    static constexpr uint8_t kFunction = 0x5B;
    static constexpr uint8_t kArg = 0x20;
    uint32_t fileRef = 0;
    uint32_t size = 0;

    template <class F>
    void Fields(F& f) {
        f(fileRef);
        f(size);
    }
};

using VfsFileSizeRequest = VfsFileRefRequest<0x5C>;

// Requests without an argument.
template <class T>
concept HasArgument = requires {
    T::kArg;
};

// The request message for a declaration.
template <class Request>
std::vector<uint8_t> Encode(const Request& request) {
    std::vector<Argument> args;
    if constexpr (HasArgument<Request>) args.push_back({Request::kArg, wire::Encode(request)});
    return EncodeRequest(Request::kFunction, args);
}

}  // namespace hotsync::dlp
