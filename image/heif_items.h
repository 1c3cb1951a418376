// The item structure of a HEIF file read from its boxes, without libheif:
// enough to know what kind of item the primary picture is before the
// library is asked to decode it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace morvel {

// The four-character type of the primary item ("hvc1", "av01", "grid",
// "iovl", ...): the item the meta box's pitm names, as its iinf entry
// types it. None when the boxes do not say (no meta, pitm or entry, or a
// box that runs past the bytes or its parent).
std::optional<std::string> heifPrimaryItemType(const uint8_t* data, size_t size);

}  // namespace morvel
