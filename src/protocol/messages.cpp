#include "messages.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace brindlewick::wire {

namespace {

// Field `i`, or "" past the end.
std::string at(const FieldList& fields, std::size_t i) {
    return i < fields.size() ? fields[i] : std::string();
}

// Field `i` when it is a client id, else "": a malformed id counts as none, so the request is
// taken as from a client without ids rather than refused.
std::string clientIdAt(const FieldList& fields, std::size_t i) {
    std::string id = at(fields, i);
    return isClientId(id) ? id : std::string();
}

} // namespace

bool isClientId(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

std::string newClientId() {
    static const char kDigits[] = "0123456789abcdef";
    // The clock first: one sender's ids then come in order, so a server's index of them grows
    // at one end instead of touching a random page per message. 80 random bits stay unique.
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    std::string id;
    id.reserve(32);
    for (int shift = 44; shift >= 0; shift -= 4)
        id += kDigits[(static_cast<std::uint64_t>(ms) >> shift) & 0xF];
    std::random_device source;
    for (int word = 0; word < 3; ++word) {
        std::uint32_t bits = source();
        for (int i = 0; i < (word < 2 ? 8 : 4); ++i, bits >>= 4)
            id += kDigits[bits & 0xF];
    }
    return id;
}

FieldList Auth::encode() const {
    FieldList fields{phone, nick.empty() ? phone : nick, profilePic, statusMsg};
    if (!secret.empty())
        fields.push_back(secret);
    return fields;
}
std::optional<Auth> Auth::decode(const FieldList& f) {
    return Auth{at(f, 0), at(f, 1), at(f, 2), at(f, 3), at(f, 4)};
}

FieldList JoinRoom::encode() const {
    return {room};
}
std::optional<JoinRoom> JoinRoom::decode(const FieldList& f) {
    return JoinRoom{at(f, 0)};
}

FieldList LeaveRoom::encode() const {
    return {room};
}
std::optional<LeaveRoom> LeaveRoom::decode(const FieldList& f) {
    return LeaveRoom{at(f, 0)};
}

FieldList ChatRequest::encode() const {
    if (!clientId.empty())
        return {room, text, replyTo, clientId};
    if (replyTo.empty())
        return {room, text};
    return {room, text, replyTo};
}
std::optional<ChatRequest> ChatRequest::decode(const FieldList& f) {
    return ChatRequest{at(f, 0), at(f, 1), at(f, 2), clientIdAt(f, 3)};
}

FieldList FileRequest::encode() const {
    FieldList fields{room, fileId, name.empty() ? std::string("file") : name,
                     size.empty() ? std::string("0") : size, std::string()};
    if (!clientId.empty())
        fields.push_back(clientId);
    return fields;
}
std::optional<FileRequest> FileRequest::decode(const FieldList& f) {
    return FileRequest{at(f, 0), at(f, 1), at(f, 2), at(f, 3), clientIdAt(f, 5)};
}

FieldList ReadWatermark::encode() const {
    return {room, msgId};
}
std::optional<ReadWatermark> ReadWatermark::decode(const FieldList& f) {
    return ReadWatermark{at(f, 0), at(f, 1)};
}

FieldList CallReject::encode() const {
    return {callId, reason};
}
std::optional<CallReject> CallReject::decode(const FieldList& f) {
    return CallReject{at(f, 0), at(f, 1)};
}

FieldList HistoryRequest::encode() const {
    return {room, before, limit};
}
std::optional<HistoryRequest> HistoryRequest::decode(const FieldList& f) {
    if (f.empty() || f[0].empty())
        return std::nullopt;
    return HistoryRequest{f[0], at(f, 1), at(f, 2)};
}

FieldList Edit::encode() const {
    if (clientId.empty())
        return {room, msgId, text};
    return {room, msgId, text, clientId};
}
std::optional<Edit> Edit::decode(const FieldList& f) {
    if (f.size() < 3)
        return std::nullopt;
    return Edit{f[0], f[1], f[2], clientIdAt(f, 3)};
}

FieldList Delete::encode() const {
    if (clientId.empty())
        return {room, msgId};
    return {room, msgId, clientId};
}
std::optional<Delete> Delete::decode(const FieldList& f) {
    if (f.size() < 2)
        return std::nullopt;
    return Delete{f[0], f[1], clientIdAt(f, 2)};
}

FieldList AuthOk::encode() const {
    if (secret.empty())
        return {phone};
    return {phone, secret};
}
std::optional<AuthOk> AuthOk::decode(const FieldList& f) {
    return AuthOk{at(f, 0), at(f, 1)};
}

FieldList ChatMessage::encode() const {
    if (clientId.empty())
        return {room, sender, text, time, msgId, senderPhone, replyTo};
    return {room, sender, text, time, msgId, senderPhone, replyTo, clientId};
}
std::optional<ChatMessage> ChatMessage::decode(const FieldList& f) {
    if (f.size() < 3)
        return std::nullopt;
    return ChatMessage{f[0], f[1], f[2], at(f, 3), at(f, 4), at(f, 5), at(f, 6), clientIdAt(f, 7)};
}

FieldList FileMessage::encode() const {
    FieldList fields{room, sender, fileId, name, size, time, msgId};
    if (!senderPhone.empty() || !clientId.empty())
        fields.push_back(senderPhone);
    if (!clientId.empty())
        fields.push_back(clientId);
    return fields;
}
std::optional<FileMessage> FileMessage::decode(const FieldList& f) {
    if (f.size() < 4)
        return std::nullopt;
    return FileMessage{
        f[0], f[1], f[2], f[3], at(f, 4), at(f, 5), at(f, 6), at(f, 7), clientIdAt(f, 8)};
}

FieldList Notice::encode() const {
    return {room, text};
}
std::optional<Notice> Notice::decode(const FieldList& f) {
    if (f.size() < 2)
        return std::nullopt;
    return Notice{f[0], f[1]};
}

FieldList ServerError::encode() const {
    return {refusedType, text};
}
std::optional<ServerError> ServerError::decode(const FieldList& f) {
    if (f.size() < 2)
        return std::nullopt;
    return ServerError{f[0], f[1]};
}

FieldList CallInvite::encode() const {
    return {callId, caller};
}
std::optional<CallInvite> CallInvite::decode(const FieldList& f) {
    // An empty payload arrives as one empty field: no call id, nobody named.
    return CallInvite{at(f, 0), f.size() >= 2 ? f[1] : std::string("상대")};
}

FieldList HistoryPage::encode() const {
    FieldList fields{room, before, hasOlder ? "1" : "0", readMark.empty() ? "0" : readMark,
                     std::to_string(kEntryFields)};
    fields.reserve(fields.size() + entries.size() * kEntryFields);
    for (const HistoryEntry& e : entries) {
        for (const std::string* field :
             {&e.msgId, &e.kind, &e.sender, &e.senderPhone, &e.time, &e.text, &e.replyTo})
            fields.push_back(*field);
        fields.push_back(e.edited ? "1" : "0");
        fields.push_back(e.deleted ? "1" : "0");
        fields.push_back(e.fileId);
        fields.push_back(e.fileName);
        fields.push_back(e.fileSize);
    }
    return fields;
}
std::string cutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t length = maxBytes;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length; // a continuation byte 10xxxxxx
    return text.substr(0, length);
}

namespace {

constexpr std::size_t kPageHeaderFields = 5;

// Entries per page from the header's width field; 0 when the page cannot be read.
std::size_t entryWidth(const FieldList& f) {
    if (f.size() < kPageHeaderFields)
        return 0;
    // A count that is not a small number leaves no way to find the entries.
    const std::string& width = f[4];
    if (width.empty() || width.size() > 3 ||
        width.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoul(width);
}

HistoryEntry entryAt(const FieldList& f, std::size_t base, std::size_t perEntry,
                     std::size_t maxFieldBytes) {
    auto field = [&](std::size_t k) {
        return k < perEntry ? cutUtf8(f[base + k], maxFieldBytes) : std::string();
    };
    HistoryEntry e;
    e.msgId = field(0);
    e.kind = field(1);
    e.sender = field(2);
    e.senderPhone = field(3);
    e.time = field(4);
    e.text = field(5);
    e.replyTo = field(6);
    e.edited = field(7) == "1";
    e.deleted = field(8) == "1";
    e.fileId = field(9);
    e.fileName = field(10);
    e.fileSize = field(11);
    return e;
}

} // namespace

std::optional<HistoryPage> HistoryPage::decode(const FieldList& f) {
    const std::size_t perEntry = entryWidth(f);
    if (perEntry == 0)
        return std::nullopt;
    HistoryPage page{f[0], f[1], f[2] == "1", f[3], {}};
    const std::size_t count = (f.size() - kPageHeaderFields) / perEntry;
    page.entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        page.entries.push_back(
            entryAt(f, kPageHeaderFields + i * perEntry, perEntry, std::string::npos));
    return page;
}

std::optional<HistoryPage> HistoryPage::decodeNewest(const FieldList& f, std::size_t maxBytes,
                                                     std::size_t maxFieldBytes) {
    const std::size_t perEntry = entryWidth(f);
    if (perEntry == 0)
        return std::nullopt;
    HistoryPage page{cutUtf8(f[0], maxFieldBytes),
                     cutUtf8(f[1], maxFieldBytes),
                     f[2] == "1",
                     cutUtf8(f[3], maxFieldBytes),
                     {}};
    const std::size_t count = (f.size() - kPageHeaderFields) / perEntry;
    std::size_t bytes = 0;
    std::size_t first = count; // the oldest entry kept
    while (first > 0) {
        const std::size_t base = kPageHeaderFields + (first - 1) * perEntry;
        std::size_t entryBytes = 0;
        for (std::size_t k = 0; k < perEntry; ++k)
            entryBytes += std::min(f[base + k].size(), maxFieldBytes);
        if (first < count && bytes + entryBytes > maxBytes)
            break;
        bytes += entryBytes;
        --first;
    }
    if (first > 0)
        page.hasOlder = true;
    page.entries.reserve(count - first);
    for (std::size_t i = first; i < count; ++i)
        page.entries.push_back(
            entryAt(f, kPageHeaderFields + i * perEntry, perEntry, maxFieldBytes));
    return page;
}

} // namespace brindlewick::wire
