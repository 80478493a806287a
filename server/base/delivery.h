#pragma once
// What a request hands to the connections of a room's members, once its job is committed.
// Made by the room rules, carried by the hub and, between instances, by the cluster.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindlewick::server {

// One encoded frame for every connection of the listed users. The list is shared with every
// other delivery into the room and never changes.
// `id` is the message's id for a new message, 0 for anything else (an edit, a notice): what
// the instances of a cluster put back in order by.
struct Delivery {
    std::shared_ptr<const std::vector<std::string>> recipients; // a Storage::MemberList
    std::shared_ptr<const std::string> frame;
    std::string room;
    std::int64_t id = 0;
};

} // namespace brindlewick::server
