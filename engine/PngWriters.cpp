// PNG images: each image of a bitmap, icon or cursor file just written,
// also as a PNG file beside it, listed in the same index.
#include <map>
#include <optional>
#include <span>
#include <utility>

#include "engine/EngineInternal.h"
#include "platform/fs/PathUtil.h"
#include "platform/image/DibImage.h"
#include "platform/image/PngImage.h"
#include "platform/text/ByteReader.h"

namespace engine {

using platform::FileError;

namespace {

// One image of the file: its PNG bytes (stored or encoded), or nothing when
// it could not be decoded.
struct Image {
    uint32_t width = 0, height = 0;
    int bpp = 0;
    std::vector<uint8_t> png;
};

Image FromDib(std::span<const uint8_t> dib, platform::DibForm form, std::optional<uint32_t> pixelOffset = {}) {
    Image image;
    if (const auto info = platform::DibInfo(dib)) image.bpp = info->bpp;
    if (const auto rgba = platform::DecodeDib(dib, form, pixelOffset)) {
        image.width = static_cast<uint32_t>(rgba->width);
        image.height = static_cast<uint32_t>(rgba->height);
        image.png = platform::EncodePng(*rgba);
    }
    return image;
}

// The images of a file as we wrote it: a .bmp holds one; an .ico or .cur
// holds the ones its directory lists (a PNG-compressed one is kept as stored).
std::vector<Image> ImagesOf(std::span<const uint8_t> file, int kind) {
    std::vector<Image> images;
    if (kind == RES_BITMAP) {
        const uint32_t offBits = platform::Le32At(file, 10);
        if (file.size() >= 14 && offBits >= 14)
            images.push_back(FromDib(file.subspan(14), platform::DibForm::Bitmap, offBits - 14));
        return images;
    }
    for (const platform::IconFileEntry& entry : platform::IconFileDirectory(file)) {
        const uint32_t size = entry.size, offset = entry.offset;
        if (static_cast<uint64_t>(offset) + size > file.size() || size == 0) {
            images.emplace_back();
            continue;
        }
        const auto bytes = file.subspan(offset, size);
        if (platform::IsPng(bytes)) {
            const auto dims = platform::PngSize(bytes);
            images.push_back({dims ? dims->first : 0, dims ? dims->second : 0, 32, {bytes.begin(), bytes.end()}});
        } else {
            images.push_back(FromDib(bytes, platform::DibForm::Icon));
        }
    }
    return images;
}

// "32x32", with the depth where another image of the file has that size.
std::vector<std::string> Labels(const std::vector<Image>& images) {
    std::map<std::pair<uint32_t, uint32_t>, int> sizes;
    for (const Image& i : images) ++sizes[{i.width, i.height}];
    std::vector<std::string> labels;
    for (const Image& i : images) {
        std::string label = std::to_string(i.width) + "x" + std::to_string(i.height);
        if (sizes[{i.width, i.height}] > 1) label += " " + std::to_string(i.bpp) + "-bit";
        labels.push_back(std::move(label));
    }
    return labels;
}

void Missed(const std::string& path) {
    PngTally& tally = State().Pngs;
    ++tally.missed;
    if (tally.missedIn.size() < 100 && (tally.missedIn.empty() || tally.missedIn.back() != path))
        tally.missedIn.push_back(path);
}

}  // namespace

void WritePngImages(const std::string& Path, int Kind, const std::string& NameText) {
    std::vector<uint8_t> file;
    if (platform::ReadWholeFile(Path, State().OutputLimit, file).number) {
        Missed(Path);
        return;
    }
    const std::vector<Image> images = ImagesOf(file, Kind);
    const std::vector<std::string> labels = Labels(images);
    const std::string folder = GetFolderPath(Path);
    const std::string stem = StripExtension(platform::PathFindFileNameA(Path));
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (images[i].png.empty()) {
            Missed(Path);
            continue;
        }
        const std::string whole = stem + " " + labels[i];
        std::string path;
        if (!WriteListed([&](FileError& problem) { return FindFreePath(folder, whole, ".png", problem); },
                         [&](const std::string& p) { return WriteOutput(p, images[i].png); }, Kind, NameText, path)) {
            if (State().LastError) return;  // said; the file stops here
            Missed(Path);  // past the output limit
            continue;
        }
        ++State().Pngs.written;
    }
}

}  // namespace engine
