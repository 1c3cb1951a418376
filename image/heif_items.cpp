#include "image/heif_items.h"

#include <cstring>

#include "image/byte_order.h"

namespace morvel {
namespace {

// One box inside [at, end): its type and its payload [body, next). False
// when its header or its size does not fit.
struct Box {
    const uint8_t* type = nullptr;
    size_t body = 0;
    size_t next = 0;
};

bool readBox(const uint8_t* data, size_t at, size_t end, Box& box)
{
    if (end - at < 8)
        return false;
    uint64_t size = bigEndian32(data + at);
    size_t header = 8;
    if (size == 1) {
        if (end - at < 16)
            return false;
        size = uint64_t{bigEndian32(data + at + 8)} << 32 | bigEndian32(data + at + 12);
        header = 16;
    } else if (size == 0) {
        size = end - at;  // to the end of its parent
    }
    if (size < header || size > end - at)
        return false;
    box.type = data + at + 4;
    box.body = at + header;
    box.next = at + static_cast<size_t>(size);
    return true;
}

// The first child of type `type` among the boxes in [at, end).
std::optional<Box> findBox(const uint8_t* data, size_t at, size_t end, const char* type)
{
    Box box;
    while (at < end && readBox(data, at, end, box)) {
        if (std::memcmp(box.type, type, 4) == 0)
            return box;
        at = box.next;
    }
    return std::nullopt;
}

// The item id the pitm box names (a full box: version 0 a 16-bit id, else
// 32-bit).
std::optional<uint32_t> primaryItemId(const uint8_t* data, const Box& pitm)
{
    const size_t length = pitm.next - pitm.body;
    if (length < 4)
        return std::nullopt;
    const bool shortId = data[pitm.body] == 0;
    if (length < (shortId ? 6u : 8u))
        return std::nullopt;
    const uint8_t* const id = data + pitm.body + 4;
    return shortId ? bigEndian16(id) : bigEndian32(id);
}

// The type of item `id` in the iinf box's infe entries (versions 2 and 3
// carry a type: id, protection index, type).
std::optional<std::string> itemType(const uint8_t* data, const Box& iinf, uint32_t id)
{
    if (iinf.next - iinf.body < 4)
        return std::nullopt;
    const size_t countBytes = data[iinf.body] == 0 ? 2 : 4;
    size_t at = iinf.body + 4 + countBytes;
    Box infe;
    while (at < iinf.next && readBox(data, at, iinf.next, infe)) {
        at = infe.next;
        if (std::memcmp(infe.type, "infe", 4) != 0 || infe.next - infe.body < 4)
            continue;
        const uint8_t version = data[infe.body];
        if (version < 2)
            continue;
        const size_t idBytes = version == 2 ? 2 : 4;
        if (infe.next - infe.body < 4 + idBytes + 2 + 4)
            continue;
        const size_t idAt = infe.body + 4;
        if ((idBytes == 2 ? bigEndian16(data + idAt) : bigEndian32(data + idAt)) == id)
            return std::string(reinterpret_cast<const char*>(data + idAt + idBytes + 2), 4);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> heifPrimaryItemType(const uint8_t* data, size_t size)
{
    if (data == nullptr)
        return std::nullopt;
    const std::optional<Box> meta = findBox(data, 0, size, "meta");
    // meta is a full box: its children start after the version and flags.
    if (!meta || meta->next - meta->body < 4)
        return std::nullopt;
    const size_t children = meta->body + 4;
    const std::optional<Box> pitm = findBox(data, children, meta->next, "pitm");
    const std::optional<Box> iinf = findBox(data, children, meta->next, "iinf");
    if (!pitm || !iinf)
        return std::nullopt;
    const std::optional<uint32_t> id = primaryItemId(data, *pitm);
    return id ? itemType(data, *iinf, *id) : std::nullopt;
}

}  // namespace morvel
