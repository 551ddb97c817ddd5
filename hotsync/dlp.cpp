#include "hotsync/dlp.h"

#include <algorithm>
#include <cstdio>

#include "hotsync/hotsync.h"
#include "platform/system.h"

namespace hotsync {
namespace dlp {

std::vector<uint8_t> EncodeRequest(uint8_t function, const std::vector<Argument>& args) {
    std::vector<uint8_t> out = wire::Encode(RequestHeader{function, uint8_t(args.size())});
    for (const Argument& arg : args) {
        const size_t size = arg.data.size();
        if (size <= kMaxTinyData) {
            wire::EncodeTo(TinyWrapper{arg.id, uint8_t(size)}, out);
        } else if (size <= kMaxSmallData) {
            wire::EncodeTo(SmallWrapper{uint8_t(arg.id | kSmallForm), 0, uint16_t(size)}, out);
        } else {
            wire::EncodeTo(LongWrapper{uint8_t(arg.id | kLongForm), 0, uint32_t(size)}, out);
        }
        out.insert(out.end(), arg.data.begin(), arg.data.end());
    }
    return out;
}

bool DecodeResponse(std::span<const uint8_t> message, Response& response) {
    size_t pos = 0;
    if (!wire::Decode(message, response.header, &pos)) return false;
    response.args.clear();
    for (int i = 0; i < response.header.argc; ++i) {
        const auto rest = message.subspan(pos);
        if (rest.empty()) return false;
        size_t used = 0;
        size_t length = 0;
        bool ok = false;
        const uint8_t form = rest[0] & (kSmallForm | kLongForm);
        if (form == kSmallForm) {
            SmallWrapper w;
            ok = wire::Decode(rest, w, &used);
            length = w.length;
        } else if (form == kLongForm) {
            LongWrapper w;
            ok = wire::Decode(rest, w, &used);
            length = w.length;
        } else if (form == 0) {
            TinyWrapper w;
            ok = wire::Decode(rest, w, &used);
            length = w.length;
        }
        if (!ok || rest.size() - used < length) return false;
        Argument arg;
        arg.id = rest[0] & kArgIdMask;
        arg.data.assign(rest.begin() + static_cast<std::ptrdiff_t>(used),
                        rest.begin() + static_cast<std::ptrdiff_t>(used + length));
        response.args.push_back(std::move(arg));
        pos += used + length;
    }
    return true;
}

DateTime ToDateTime(time_t localTime) {
    DateTime out;
    struct tm tm {};
    if (localTime == 0 || !platform::LocalTime(localTime, tm)) return out;
    out.year = uint16_t(tm.tm_year + 1900);
    out.month = uint8_t(tm.tm_mon + 1);
    out.day = uint8_t(tm.tm_mday);
    out.hour = uint8_t(tm.tm_hour);
    out.minute = uint8_t(tm.tm_min);
    out.second = uint8_t(tm.tm_sec);
    return out;
}

time_t FromDateTime(const DateTime& dateTime) {
    if (dateTime.year == 0) return 0;
    struct tm tm {};
    tm.tm_year = dateTime.year - 1900;
    tm.tm_mon = dateTime.month - 1;
    tm.tm_mday = dateTime.day;
    tm.tm_hour = dateTime.hour;
    tm.tm_min = dateTime.minute;
    tm.tm_sec = dateTime.second;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    return t == time_t(-1) ? 0 : t;
}

namespace {

// Tungsten T5-class handhelds answer WriteResource under the EndOfSync code; the m130 and
// the Tungsten T answer VFSVolumeInfo under the VFSVolumeSize code.
bool IsKnownQuirk(uint8_t function, uint8_t answered) {
    return (function == WriteResourceRequest::kFunction &&
            answered == (EndOfSyncRequest::kFunction | kResponseBit)) ||
           (function == VfsVolumeInfoRequest::kFunction &&
            answered == (VfsVolumeSizeRequest::kFunction | kResponseBit));
}

// Sends a message and checks that the answer is the function's, and its error.
int Exchange(CSocket& socket, uint8_t function, std::span<const uint8_t> message,
             Response& response) {
    std::vector<uint8_t> answer;
    const int result = socket.Exchange(message, answer);
    if (result < 0) return result;
    if (!DecodeResponse(answer, response)) return kDlpErrBadResponse;
    const uint8_t expected = function | kResponseBit;
    if (response.header.function != expected && !IsKnownQuirk(function, response.header.function)) {
        return kDlpErrBadResponse;
    }
    if (response.header.error != 0) return -int(response.header.error);
    return 0;
}

template <class Request>
int Call(CSocket& socket, const Request& request, Response& response) {
    return Exchange(socket, Request::kFunction, Encode(request), response);
}

// Decodes the answer argument a response type names; missing or short: kDlpErrShortAnswer.
template <class Answer>
int Take(const Response& response, Answer& answer) {
    for (const Argument& arg : response.args) {
        if (arg.id == Answer::kArg) {
            return wire::Decode(arg.data, answer) ? 0 : kDlpErrShortAnswer;
        }
    }
    return kDlpErrShortAnswer;
}

template <class Request>
int CallNoAnswer(CSocket& socket, const Request& request) {
    Response response;
    return Call(socket, request, response);
}

template <class Request, class Answer>
int CallWithAnswer(CSocket& socket, const Request& request, Answer& answer) {
    Response response;
    const int result = Call(socket, request, response);
    return result < 0 ? result : Take(response, answer);
}

}  // namespace
}  // namespace dlp

using namespace dlp;

int DlpOpenConduit(CSocket& socket) {
    return CallNoAnswer(socket, OpenConduitRequest{});
}

int DlpSetSysDateTime(CSocket& socket, time_t localTime) {
    return CallNoAnswer(socket, SetSysDateTimeRequest{ToDateTime(localTime)});
}

int DlpReadUserInfo(CSocket& socket, UserInfo& info) {
    ReadUserInfoResponse answer;
    const int result = CallWithAnswer(socket, ReadUserInfoRequest{}, answer);
    if (result < 0) return result;
    const size_t nameLength = answer.userNameLength;
    const size_t passwordLength = answer.passwordLength;
    if (answer.nameAndPassword.size() < nameLength + passwordLength) return kDlpErrShortAnswer;
    info.userId = answer.userId;
    info.viewerId = answer.viewerId;
    info.lastSyncPc = answer.lastSyncPc;
    info.successfulSyncDate = FromDateTime(answer.successfulSyncDate);
    info.lastSyncDate = FromDateTime(answer.lastSyncDate);
    const auto name = answer.nameAndPassword.begin();
    info.userName.assign(name, name + static_cast<std::ptrdiff_t>(nameLength));
    // Up to its NUL, at most 127 characters; a handheld without a user sends no name at all.
    info.userName.resize(std::min({info.userName.find('\0'), info.userName.size(), size_t{127}}));
    info.password.assign(name + static_cast<std::ptrdiff_t>(nameLength),
                         name + static_cast<std::ptrdiff_t>(nameLength + passwordLength));
    return 0;
}

int DlpWriteUserInfo(CSocket& socket, const UserInfo& info) {
    WriteUserInfoRequest request;
    request.userId = info.userId;
    request.viewerId = info.viewerId;
    request.lastSyncPc = info.lastSyncPc;
    request.lastSyncDate = ToDateTime(info.lastSyncDate);
    request.userName = info.userName.substr(0, WriteUserInfoRequest::kMaxUserName);
    request.userName.resize(std::min(request.userName.find('\0'), request.userName.size()));
    request.userNameLength = uint8_t(request.userName.size() + 1);
    return CallNoAnswer(socket, request);
}

int DlpReadSysInfo(CSocket& socket, SysInfo& info) {
    Response response;
    const int result = Call(socket, ReadSysInfoRequest{}, response);
    if (result < 0) return result;
    ReadSysInfoResponse answer;
    const int taken = Take(response, answer);
    if (taken < 0) return taken;
    info.romVersion = answer.romVersion;
    info.locale = answer.locale;
    answer.productId.resize(std::min<size_t>(answer.productId.size(), answer.productIdLength));
    info.productId = answer.productId;
    info.dlpVersion = 0;
    info.compatVersion = 0;
    info.maxRecordSize = 0;
    ReadSysInfoVersions versions;
    // Only DLP 1.2 and later say their version; an older handheld leaves it unknown.
    if (Take(response, versions) == 0) {
        info.dlpVersion = (versions.dlpMajor << 8) | (versions.dlpMinor & 0xFF);
        info.compatVersion = (versions.compatMajor << 8) | (versions.compatMinor & 0xFF);
        info.maxRecordSize = versions.maxRecordSize;
    }
    socket.NoteHandheldVersion(info.dlpVersion, info.maxRecordSize);
    return 0;
}

int DlpReadStorageInfo(CSocket& socket, int card, CardInfo& info) {
    ReadStorageInfoResponse answer;
    const int result = CallWithAnswer(socket, ReadStorageInfoRequest{uint8_t(card), 0}, answer);
    if (result < 0) return result;
    CardRecord record;
    size_t used = 0;
    if (answer.count < 1 || !wire::Decode(answer.cards, record, &used)) {
        return kDlpErrShortAnswer;
    }
    const size_t names = size_t(record.nameLength) + record.manufacturerLength;
    if (answer.cards.size() - used < names) return kDlpErrShortAnswer;
    info.card = record.cardNumber;
    info.version = record.cardVersion;
    info.creationDate = FromDateTime(record.creationDate);
    info.romSize = record.romSize;
    info.ramSize = record.ramSize;
    info.ramFree = record.freeRam;
    const auto text = answer.cards.begin() + static_cast<std::ptrdiff_t>(used);
    info.name.assign(text, text + record.nameLength);
    info.manufacturer.assign(text + record.nameLength, text + static_cast<std::ptrdiff_t>(names));
    return 0;
}

int DlpEndOfSync(CSocket& socket, int status) {
    const int result = CallNoAnswer(socket, EndOfSyncRequest{uint16_t(status)});
    if (result == 0) socket.SetEndOfSyncSent(true);
    return result;
}

int DlpOpenDB(CSocket& socket, int card, int mode, const std::string& name, int& handle) {
    HandleResponse answer;
    const int result =
        CallWithAnswer(socket, OpenDbRequest{uint8_t(card), uint8_t(mode), name}, answer);
    if (result == 0) handle = answer.handle;
    return result;
}

int DlpCreateDB(CSocket& socket, uint32_t creator, uint32_t type, int card, int attributes,
                int version, const std::string& name, int& handle) {
    CreateDbRequest request;
    request.creator = creator;
    request.type = type;
    request.card = uint8_t(card);
    request.attributes = uint16_t(attributes);
    request.version = uint16_t(version);
    request.name = name;
    HandleResponse answer;
    const int result = CallWithAnswer(socket, request, answer);
    if (result == 0) handle = answer.handle;
    return result;
}

int DlpDeleteDB(CSocket& socket, int card, const std::string& name) {
    return CallNoAnswer(socket, DeleteDbRequest{uint8_t(card), 0, name});
}

int DlpCloseDB(CSocket& socket, int handle) {
    return CallNoAnswer(socket, CloseDbRequest{uint8_t(handle)});
}

int DlpCloseAllDBs(CSocket& socket) {
    return CallNoAnswer(socket, CloseAllDbsRequest{});
}

int DlpWriteAppBlock(CSocket& socket, int handle, std::span<const uint8_t> block) {
    // The block size travels in 16 bits, inside a 16-bit argument.
    if (block.size() + 10 > kMaxSmallData) return kDlpErrDataTooLarge;
    WriteAppBlockRequest request;
    request.handle = uint8_t(handle);
    request.blockSize = uint16_t(block.size());
    request.data.assign(block.begin(), block.end());
    return CallNoAnswer(socket, request);
}

int DlpWriteRecord(CSocket& socket, int handle, int attributes, uint32_t id, int category,
                   std::span<const uint8_t> data, uint32_t* newId) {
    if (data.size() > kMaxRecordData) {
        std::fputs("Data too large\n", stderr);
        return kDlpErrDataTooLarge;
    }
    WriteRecordRequest request;
    request.handle = uint8_t(handle);
    request.id = id;
    request.attributes = uint8_t(attributes);
    request.category = uint8_t(category);
    request.data.assign(data.begin(), data.end());
    RecordIdResponse answer;
    const int result = CallWithAnswer(socket, request, answer);
    if (result == 0 && newId) *newId = answer.id;
    return result;
}

int DlpWriteResource(CSocket& socket, int handle, uint32_t type, int id,
                     std::span<const uint8_t> data) {
    WriteResourceRequest request;
    request.handle = uint8_t(handle);
    request.type = type;
    request.id = uint16_t(id);
    request.size = uint16_t(std::min<size_t>(data.size(), 0xFFFF));
    request.data.assign(data.begin(), data.end());
    return CallNoAnswer(socket, request);
}

namespace {

// A record or resource by its index: the answer's data cut to the size it states, short
// when it carries less.
template <class Request, class Answer>
int ReadByIndex(CSocket& socket, int handle, int index, Answer& answer) {
    Request request;
    request.handle = uint8_t(handle);
    request.index = uint16_t(index);
    const int result = CallWithAnswer(socket, request, answer);
    if (result < 0) return result;
    if (answer.data.size() < answer.size) return kDlpErrShortAnswer;
    answer.data.resize(answer.size);
    return 0;
}

}  // namespace

int DlpReadRecordByIndex(CSocket& socket, int handle, int index, RecordData& record) {
    ReadRecordResponse answer;
    const int result = ReadByIndex<ReadRecordByIndexRequest>(socket, handle, index, answer);
    if (result < 0) return result;
    record.id = answer.id;
    record.index = answer.index;
    record.attributes = answer.attributes;
    record.category = answer.category;
    record.data = std::move(answer.data);
    return 0;
}

int DlpResetSyncFlags(CSocket& socket, int handle) {
    return CallNoAnswer(socket, ResetSyncFlagsRequest{uint8_t(handle)});
}

int DlpResetSystem(CSocket& socket) {
    return CallNoAnswer(socket, ResetSystemRequest{});
}

int DlpReadFeature(CSocket& socket, uint32_t creator, int number, uint32_t& value) {
    FeatureResponse answer;
    const int result =
        CallWithAnswer(socket, ReadFeatureRequest{creator, uint16_t(number)}, answer);
    if (result == 0) value = answer.value;
    return result;
}

int DlpFindDBByHandle(CSocket& socket, int handle, DbInfo& info) {
    FindDbByHandleRequest request;
    request.handle = uint8_t(handle);
    FindDbResponse answer;
    const int result = CallWithAnswer(socket, request, answer);
    if (result < 0) return result;
    info.card = answer.card;
    info.localId = answer.localId;
    info.openRef = answer.openRef;
    info.miscFlags = answer.info.miscFlags;
    info.attributes = answer.info.attributes;
    info.type = answer.info.type;
    info.creator = answer.info.creator;
    info.version = answer.info.version;
    info.modificationNumber = answer.info.modificationNumber;
    info.creationDate = FromDateTime(answer.info.creationDate);
    info.modificationDate = FromDateTime(answer.info.modificationDate);
    info.backupDate = FromDateTime(answer.info.backupDate);
    info.index = answer.info.index;
    info.name = answer.info.name;
    return 0;
}

// ---- reading whole databases, and what restoring them needs ---------------------------

namespace {

constexpr size_t kDbInfoFixedSize = 44;  // the DbInfo header before its name

DbInfo ToDbInfo(const DbInfoHeader& header) {
    DbInfo info;
    info.miscFlags = header.miscFlags;
    info.attributes = header.attributes;
    info.type = header.type;
    info.creator = header.creator;
    info.version = header.version;
    info.modificationNumber = header.modificationNumber;
    info.creationDate = FromDateTime(header.creationDate);
    info.modificationDate = FromDateTime(header.modificationDate);
    info.backupDate = FromDateTime(header.backupDate);
    info.index = header.index;
    info.name = header.name;
    return info;
}

// A block read whole: an answer may carry less than the block's size, so the rest is asked
// for from where it ended, until the size is reached or an answer brings nothing new.
template <class Request>
int ReadBlock(CSocket& socket, int handle, std::vector<uint8_t>& block) {
    block.clear();
    for (;;) {
        Request request;
        request.handle = uint8_t(handle);
        request.offset = uint16_t(block.size());
        BlockResponse answer;
        const int result = CallWithAnswer(socket, request, answer);
        if (result < 0) return result;
        const size_t room = kMaxSmallData - block.size();
        block.insert(
            block.end(), answer.data.begin(),
            answer.data.begin() + static_cast<std::ptrdiff_t>(std::min(answer.data.size(), room)));
        if (answer.data.empty() || block.size() >= answer.size || block.size() >= kMaxSmallData) {
            return 0;
        }
    }
}

// One answer of ReadRecord, by index or by id: the part asked for and the record's size.
template <class Request>
int ReadRecordPart(CSocket& socket, const Request& request, RecordData& record, int& size) {
    ReadRecordResponse answer;
    const int result = CallWithAnswer(socket, request, answer);
    if (result < 0) return result;
    // More than was asked for is not an answer to this request.
    if (answer.data.size() > request.count) return kDlpErrBadResponse;
    size = answer.size;
    record.id = answer.id;
    record.index = answer.index;
    record.attributes = answer.attributes;
    record.category = answer.category;
    record.data = std::move(answer.data);
    return 0;
}

template <class Request>
int ReadResourcePart(CSocket& socket, const Request& request, ResourceData& resource, int& size) {
    ReadResourceResponse answer;
    const int result = CallWithAnswer(socket, request, answer);
    if (result < 0) return result;
    if (answer.data.size() > request.count) return kDlpErrBadResponse;
    size = answer.size;
    resource.type = answer.type;
    resource.id = answer.id;
    resource.index = answer.index;
    resource.data = std::move(answer.data);
    return 0;
}

uint16_t PartCount(int count) {
    return uint16_t(std::clamp(count, 0, 0xFFFF));
}

}  // namespace

int DlpReadDBList(CSocket& socket, int flags, int card, int start, DbListPage& page) {
    page = DbListPage{};
    if (start < 0 || start > 0xFFFF) return kDlpErrBadArgument;
    // Only DLP 1.2 packs several entries into one answer.
    if (socket.Version() < kDlpVersion12) flags &= ~kDbListMultiple;
    ReadDbListResponse answer;
    const int result = CallWithAnswer(
        socket, ReadDbListRequest{uint8_t(flags), uint8_t(card), uint16_t(start)}, answer);
    if (result < 0) return result;
    std::span<const uint8_t> rest(answer.entries);
    for (int i = 0; i < answer.count; ++i) {
        if (rest.empty()) return kDlpErrShortAnswer;
        const size_t total = rest[0];
        if (total < kDbInfoFixedSize || total > rest.size()) return kDlpErrShortAnswer;
        DbInfoHeader header;
        if (!wire::Decode(rest.first(total), header)) return kDlpErrShortAnswer;
        page.entries.push_back(ToDbInfo(header));
        rest = rest.subspan(total);
    }
    page.lastIndex = answer.lastIndex;
    page.more = (answer.flags & ReadDbListResponse::kMore) != 0;
    return 0;
}

int DlpReadAppBlock(CSocket& socket, int handle, std::vector<uint8_t>& block) {
    return ReadBlock<ReadAppBlockRequest>(socket, handle, block);
}

int DlpReadSortBlock(CSocket& socket, int handle, std::vector<uint8_t>& block) {
    return ReadBlock<ReadSortBlockRequest>(socket, handle, block);
}

int DlpWriteSortBlock(CSocket& socket, int handle, std::span<const uint8_t> block) {
    if (block.size() + 10 > kMaxSmallData) return kDlpErrDataTooLarge;
    WriteSortBlockRequest request;
    request.handle = uint8_t(handle);
    request.blockSize = uint16_t(block.size());
    request.data.assign(block.begin(), block.end());
    return CallNoAnswer(socket, request);
}

int DlpReadRecordByIndex(CSocket& socket, int handle, int index, int offset, int count,
                         RecordData& record, int& size) {
    ReadRecordByIndexRequest request;
    request.handle = uint8_t(handle);
    request.index = uint16_t(index);
    request.offset = uint16_t(offset);
    request.count = PartCount(count);
    return ReadRecordPart(socket, request, record, size);
}

int DlpReadRecordById(CSocket& socket, int handle, uint32_t id, int offset, int count,
                      RecordData& record, int& size) {
    ReadRecordByIdRequest request;
    request.handle = uint8_t(handle);
    request.id = id;
    request.offset = uint16_t(offset);
    request.count = PartCount(count);
    return ReadRecordPart(socket, request, record, size);
}

int DlpReadResourceByIndex(CSocket& socket, int handle, int index, int offset, int count,
                           ResourceData& resource, int& size) {
    ReadResourceByIndexRequest request;
    request.handle = uint8_t(handle);
    request.index = uint16_t(index);
    request.offset = uint16_t(offset);
    request.count = PartCount(count);
    return ReadResourcePart(socket, request, resource, size);
}

int DlpReadResourceByType(CSocket& socket, int handle, uint32_t type, int id, int offset, int count,
                          ResourceData& resource, int& size) {
    ReadResourceByTypeRequest request;
    request.handle = uint8_t(handle);
    request.type = type;
    request.id = uint16_t(id);
    request.offset = uint16_t(offset);
    request.count = PartCount(count);
    return ReadResourcePart(socket, request, resource, size);
}

int DlpReadOpenDBInfo(CSocket& socket, int handle, int& entries) {
    OpenDbInfoResponse answer;
    const int result = CallWithAnswer(socket, ReadOpenDbInfoRequest{uint8_t(handle)}, answer);
    if (result == 0) entries = answer.entries;
    return result;
}

int DlpSetDBInfo(CSocket& socket, int handle, const DbInfoChange& change) {
    SetDbInfoRequest request;
    request.handle = uint8_t(handle);
    request.clearAttributes = uint16_t(change.clearAttributes);
    request.setAttributes = uint16_t(change.setAttributes);
    request.version = uint16_t(change.version);
    request.creationDate = ToDateTime(change.creationDate);
    request.modificationDate = ToDateTime(change.modificationDate);
    request.backupDate = ToDateTime(change.backupDate);
    request.type = change.type;
    request.creator = change.creator;
    request.name = change.name;
    return CallNoAnswer(socket, request);
}

int DlpFindDBSizes(CSocket& socket, int card, const std::string& name, DbSizes& sizes) {
    FindDbByNameRequest request;
    request.card = uint8_t(card);
    request.name = name;
    FindDbSizesResponse answer;
    const int result = CallWithAnswer(socket, request, answer);
    if (result < 0) return result;
    sizes.recordCount = answer.recordCount;
    sizes.totalBytes = answer.totalBytes;
    sizes.dataBytes = answer.dataBytes;
    return 0;
}

int DlpReadResourceByIndex(CSocket& socket, int handle, int index, ResourceData& resource) {
    ReadResourceResponse answer;
    const int result = ReadByIndex<ReadResourceByIndexRequest>(socket, handle, index, answer);
    if (result < 0) return result;
    resource.type = answer.type;
    resource.id = answer.id;
    resource.index = answer.index;
    resource.data = std::move(answer.data);
    return 0;
}

// ---- expansion cards and VFS ----

namespace {

// A count and as many 16-bit references, of which the first kMaxVolumes are kept.
int TakeRefList(const RefListResponse& answer, std::vector<int>& refs) {
    refs.clear();
    if (answer.refs.size() / 2 < answer.count) return kDlpErrShortAnswer;
    const size_t kept = std::min<size_t>(answer.count, kMaxVolumes);
    for (size_t i = 0; i < kept; ++i) {
        refs.push_back((answer.refs[2 * i] << 8) | answer.refs[2 * i + 1]);
    }
    return 0;
}

bool IsSendablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

template <class Request>
int CallWithPath(CSocket& socket, int volRef, const std::string& path) {
    if (!IsSendablePath(path)) return kDlpErrBadArgument;
    Request request;
    request.volRef = uint16_t(volRef);
    request.path = path;
    return CallNoAnswer(socket, request);
}

}  // namespace

int DlpExpSlotEnumerate(CSocket& socket, std::vector<int>& slotRefs) {
    RefListResponse answer;
    const int result = CallWithAnswer(socket, ExpSlotEnumerateRequest{}, answer);
    return result < 0 ? result : TakeRefList(answer, slotRefs);
}

int DlpExpCardPresent(CSocket& socket, int slotRef) {
    return CallNoAnswer(socket, ExpCardPresentRequest{uint16_t(slotRef)});
}

int DlpVFSVolumeEnumerate(CSocket& socket, std::vector<int>& volRefs) {
    RefListResponse answer;
    const int result = CallWithAnswer(socket, VfsVolumeEnumerateRequest{}, answer);
    return result < 0 ? result : TakeRefList(answer, volRefs);
}

int DlpVFSVolumeInfo(CSocket& socket, int volRef, VolumeInfo& info) {
    VolumeInfoResponse answer;
    const int result = CallWithAnswer(socket, VfsVolumeInfoRequest{uint16_t(volRef)}, answer);
    if (result < 0) return result;
    info.attributes = answer.attributes;
    info.fsType = answer.fsType;
    info.fsCreator = answer.fsCreator;
    info.mountClass = answer.mountClass;
    info.slotLibRef = answer.slotLibRef;
    info.slotRef = answer.slotRef;
    info.mediaType = answer.mediaType;
    return 0;
}

int DlpVFSVolumeGetLabel(CSocket& socket, int volRef, std::string& label) {
    VolumeLabelResponse answer;
    const int result = CallWithAnswer(socket, VfsVolumeGetLabelRequest{uint16_t(volRef)}, answer);
    if (result < 0) return result;
    label = answer.label.substr(0, kMaxVfsName);
    return 0;
}

int DlpVFSVolumeSize(CSocket& socket, int volRef, uint32_t& used, uint32_t& total) {
    VolumeSizeResponse answer;
    const int result = CallWithAnswer(socket, VfsVolumeSizeRequest{uint16_t(volRef)}, answer);
    if (result < 0) return result;
    used = answer.used;
    total = answer.total;
    return 0;
}

int DlpVFSDirCreate(CSocket& socket, int volRef, const std::string& path) {
    return CallWithPath<VfsDirCreateRequest>(socket, volRef, path);
}

int DlpVFSFileCreate(CSocket& socket, int volRef, const std::string& path) {
    return CallWithPath<VfsFileCreateRequest>(socket, volRef, path);
}

int DlpVFSFileOpen(CSocket& socket, int volRef, const std::string& path, int mode,
                   uint32_t& fileRef) {
    if (!IsSendablePath(path)) return kDlpErrBadArgument;
    Value32Response answer;
    const int result =
        CallWithAnswer(socket, VfsFileOpenRequest{uint16_t(volRef), uint16_t(mode), path}, answer);
    if (result == 0) fileRef = answer.value;
    return result;
}

int DlpVFSFileResize(CSocket& socket, uint32_t fileRef, uint32_t size) {
    return CallNoAnswer(socket, VfsFileResizeRequest{fileRef, size});
}

int DlpVFSFileWrite(CSocket& socket, uint32_t fileRef, std::span<const uint8_t> data,
                    uint32_t& written) {
    written = 0;
    if (data.empty() || data.size() > kMaxVfsWrite) return kDlpErrBadArgument;
    const int first = CallNoAnswer(socket, VfsFileWriteRequest{fileRef, uint32_t(data.size())});
    if (first < 0) return first;
    Response response;
    const int result = Exchange(socket, VfsFileWriteRequest::kFunction, data, response);
    if (result < 0) return result;
    // A handheld that does not say how much it took took it all.
    Value32Response answer;
    const int taken = Take(response, answer);
    if (taken == 0) {
        if (answer.value > data.size()) return kDlpErrBadResponse;
        written = answer.value;
    } else if (response.args.empty()) {
        written = uint32_t(data.size());
    } else {
        return taken;
    }
    return 0;
}

int DlpVFSFileClose(CSocket& socket, uint32_t fileRef) {
    return CallNoAnswer(socket, VfsFileCloseRequest{fileRef});
}

int DlpVFSFileDelete(CSocket& socket, int volRef, const std::string& path) {
    return CallWithPath<VfsFileDeleteRequest>(socket, volRef, path);
}

int DlpVFSFileSize(CSocket& socket, uint32_t fileRef, uint32_t& size) {
    Value32Response answer;
    const int result = CallWithAnswer(socket, VfsFileSizeRequest{fileRef}, answer);
    if (result == 0) size = answer.value;
    return result;
}

}  // namespace hotsync
