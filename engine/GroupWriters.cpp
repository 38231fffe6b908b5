// The icon and cursor group writers: a group resource and its member
// images become one .ico or .cur file.
#include <map>
#include <span>

#include "engine/EngineInternal.h"
#include "platform/text/ByteReader.h"

namespace engine {

using platform::FileError;
using platform::HMODULE;
using platform::ResId;

namespace {

using platform::ResourceType;

// Members of a group. Each is loaded to check it and kept for the write,
// once per ID however often the group names it, while the kept bytes stay
// within a budget; past it (many IDs sharing one large image in a damaged
// module) a member is let go and loaded again when the file is written.
constexpr std::size_t kMaxKeptMemberBytes = 16u << 20;

class MemberCache {
public:
    MemberCache(HMODULE module, ResourceType type) : module_(module), type_(type) {}

    // The member's bytes, valid until the next call; empty when missing.
    const std::vector<uint8_t>& Get(uint16_t id) {
        auto it = kept_.find(id);
        if (it != kept_.end()) return it->second;
        scratch_ = Load(id);
        if (keptBytes_ + scratch_.size() > kMaxKeptMemberBytes) return scratch_;
        keptBytes_ += scratch_.size();
        return kept_.emplace(id, std::move(scratch_)).first->second;
    }
    // The kept bytes of a member, nullptr when it was let go.
    const std::vector<uint8_t>* Kept(uint16_t id) const {
        auto it = kept_.find(id);
        return it == kept_.end() ? nullptr : &it->second;
    }
    std::vector<uint8_t> Load(uint16_t id) const {
        return LoadResourceData(module_, ResId::Type(type_), ResId::Int(id));
    }

private:
    HMODULE module_;
    ResourceType type_;
    std::map<uint16_t, std::vector<uint8_t>> kept_;
    std::size_t keptBytes_ = 0;
    std::vector<uint8_t> scratch_;
};

// One image of a group file: the member, its stored size as checked, and
// how many of its bytes the file takes.
struct GroupImage {
    uint16_t id;
    std::size_t size;
    std::size_t length;
};

// Writes a group file: the header and directory, then the images in order.
// When every member is kept, one gathered write; otherwise each let-go
// member is loaded again as it is written, so only one is held at a time. A
// member that no longer matches what was checked means the module changed
// under us: the file is removed and the group refused.
bool WriteGroupFile(const std::string& path, const std::vector<uint8_t>& head, const MemberCache& members,
                    const std::vector<GroupImage>& images, std::size_t skip) {
    std::vector<std::span<const uint8_t>> pieces;
    pieces.reserve(1 + images.size());
    pieces.emplace_back(head);
    for (const auto& image : images) {
        const std::vector<uint8_t>* kept = members.Kept(image.id);
        if (!kept) break;
        pieces.emplace_back(kept->data() + skip, image.length - skip);
    }
    if (pieces.size() == 1 + images.size()) return WriteOutput(path, pieces);

    platform::NewFile file;
    FileError e = file.Begin(path);
    if (!e.number) e = file.Write(head.data(), head.size());
    for (const auto& image : images) {
        if (e.number) break;
        std::vector<uint8_t> loaded;
        const std::vector<uint8_t>* data = members.Kept(image.id);
        if (!data) {
            loaded = members.Load(image.id);
            data = &loaded;
        }
        // A member that no longer matches: the group is refused, or, when the
        // file changed, the change is reported by Publish.
        if (data->size() != image.size) {
            SourceChanged();
            return false;
        }
        e = file.Write(data->data() + skip, image.length - skip);
    }
    return Publish(file, path, e);
}

// The header and directory of an icon or cursor file, entry by entry, with
// each size and offset taken from the image as it will be written.
struct GroupHead {
    std::vector<uint8_t> head;
    uint64_t offset;
    std::vector<GroupImage> images;

    GroupHead(const std::vector<uint8_t>& group, int count)
        : head(group.begin(), group.begin() + 6), offset(6 + 16 * static_cast<uint64_t>(count)) {
        head.reserve(static_cast<std::size_t>(offset));
        images.reserve(static_cast<std::size_t>(count));
    }
    // False when the file would pass the output limit.
    bool Add(uint8_t width, uint8_t height, uint8_t colours, uint16_t planesOrX, uint16_t bppOrY, uint16_t id,
             std::size_t stored, std::size_t length, std::size_t written) {
        const uint64_t at = offset;
        offset += written;
        if (offset > 0xFFFFFFFFull || !WithinOutputLimit(offset)) return false;
        head.push_back(width);
        head.push_back(height);
        head.push_back(colours);
        head.push_back(0);
        platform::AppendLe16(head, planesOrX);
        platform::AppendLe16(head, bppOrY);
        platform::AppendLe32(head, static_cast<uint32_t>(written));
        platform::AppendLe32(head, static_cast<uint32_t>(at));
        images.push_back({id, stored, length});
        return true;
    }
};

// The group header checks both group writers share: enough bytes for the
// header and every entry, the type byte, a positive count.
int GroupCount(const std::vector<uint8_t>& group, uint8_t typeByte) {
    if (group.size() < 6) return -1;
    if (group[2] != typeByte) return -1;
    const int count = static_cast<int16_t>(platform::ByteReader(group).At(4).Le16().value_or(0));
    if (count <= 0) return -1;
    if (group.size() < 6 + 14 * static_cast<std::size_t>(count)) return -1;
    return count;
}

// How much of a member the file takes: the group's figure, unless the
// stored resource is shorter (a padded one is longer: the padding stays out).
std::size_t MemberLength(std::size_t stored, int32_t figure) {
    return figure > 0 && static_cast<std::size_t>(figure) <= stored ? static_cast<std::size_t>(figure) : stored;
}

}  // namespace

bool SaveIconGroup(HMODULE hModule, const std::string& Path, const ResId& Name) {
    const std::vector<uint8_t> group = LoadResourceData(hModule, ResId::Type(ResourceType::GroupIcon), Name);
    const int count = GroupCount(group, 1);
    if (count < 0) return false;

    MemberCache members(hModule, ResourceType::Icon);
    GroupHead file(group, count);
    for (int j = 0; j < count; ++j) {
        // Width, height, colours, a reserved byte, planes, bits per pixel, size, ID.
        platform::ByteReader entry = platform::ByteReader(group).At(6 + 14 * static_cast<std::size_t>(j));
        const auto width = entry.U8(), height = entry.U8(), colourCount = entry.U8();
        entry.Skip(1);
        const auto planesField = entry.Le16(), bppField = entry.Le16();
        const auto sizeField = entry.Le32();
        const auto idField = entry.Le16();
        if (!idField) return false;  // each read after the one before: all are there
        const uint8_t colours = *colourCount;
        const uint16_t planes = *planesField, bpp = *bppField, id = *idField;
        const int32_t size = static_cast<int32_t>(*sizeField);
        if (colours > 16 || planes != 1) return false;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
        if (size <= 0) return false;
        // A group is only worth a file when every image is there.
        const std::vector<uint8_t>& image = members.Get(id);
        if (!IsArrayDimmed(image)) return false;
        // Size and offset describe the image as written, so a group entry
        // that disagrees with its member cannot misplace the images.
        const std::size_t length = MemberLength(image.size(), size);
        if (!file.Add(*width, *height, colours, 1, bpp, id, image.size(), length, length)) return false;
    }
    return WriteGroupFile(Path, file.head, members, file.images, 0);
}

bool SaveCursorGroup(HMODULE hModule, const std::string& Path, const ResId& Name) {
    const std::vector<uint8_t> group = LoadResourceData(hModule, ResId::Type(ResourceType::GroupCursor), Name);
    const int count = GroupCount(group, 2);
    if (count < 0) return false;

    MemberCache members(hModule, ResourceType::Cursor);
    GroupHead file(group, count);
    for (int j = 0; j < count; ++j) {
        // Width, height (of both masks, or not), planes, bits per pixel, size, ID.
        platform::ByteReader entry = platform::ByteReader(group).At(6 + 14 * static_cast<std::size_t>(j));
        const auto widthField = entry.Le16(), heightField = entry.Le16(), planesField = entry.Le16();
        entry.Skip(2);
        const auto sizeField = entry.Le32();
        const auto idField = entry.Le16();
        if (!idField) return false;
        const uint16_t id = *idField;
        const std::vector<uint8_t>& image = members.Get(id);
        const int width = static_cast<int16_t>(*widthField);
        const int height2 = static_cast<int16_t>(*heightField);
        const uint16_t planes = *planesField;
        const int32_t size = static_cast<int32_t>(*sizeField);
        const std::size_t length = MemberLength(image.size(), size);
        // Hotspot plus at least one byte of image.
        if (length < 5) return false;
        // Up to 256 pixels; groups store the height doubled or not.
        if (width <= 0 || width > 256) return false;
        if (height2 <= 0 || height2 > 512) return false;
        if (planes != 1 || size <= 0) return false;
        // The image's own header knows its height (both masks, so halved);
        // failing that, the group's height taken as doubled.
        int height = height2 / 2;
        platform::ByteReader bits(image);
        const uint16_t hotX = bits.Le16().value_or(0), hotY = bits.Le16().value_or(0);
        if (length >= 4 + 16) {
            const uint32_t biSize = bits.Le32().value_or(0);
            bits.Skip(4);
            const int32_t biHeight = static_cast<int32_t>(bits.Le32().value_or(0));
            if ((biSize == 40 || biSize == 108 || biSize == 124) && biHeight / 2 >= 1 && biHeight / 2 <= 256)
                height = biHeight / 2;
        }
        if (height < 1 || height > 256) return false;
        // 256 pixels is written as 0, as the directory's byte says.
        if (!file.Add(static_cast<uint8_t>(width), static_cast<uint8_t>(height), 2, hotX, hotY, id,
                      image.size(), length, length - 4))
            return false;
    }
    return WriteGroupFile(Path, file.head, members, file.images, 4);
}

}  // namespace engine
