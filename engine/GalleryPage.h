// The gallery page: one HTML file in the destination that shows every
// resource its index files list (earlier runs' included) as thumbnails,
// grouped by kind and by program file, with a filter box. Self-contained:
// its style and script are inline and it links only files below the
// destination.
#pragma once

#include <cstddef>
#include <string>

#include "platform/fs/FileError.h"

namespace engine {

inline constexpr const char* kGalleryName = "index";  // index.html, index (2).html ...

struct GalleryPage {
    std::string path;       // the page written
    std::size_t items = 0;  // the resources it shows
};

// Writes the page into destFolder under the first free name; never over a
// file. The error says why no page was written.
platform::FileError WriteGalleryPage(const std::string& destFolder, GalleryPage& page);

// The page's text for the index files below destFolder (items: how many it shows).
std::string GalleryHtml(const std::string& destFolder, std::size_t& items);

}  // namespace engine
