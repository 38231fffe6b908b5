#include "engine/GalleryPage.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/EngineInternal.h"
#include "platform/fs/FileIo.h"
#include "platform/fs/PathUtil.h"
#include "platform/image/DibImage.h"
#include "platform/image/PngImage.h"
#include "platform/text/ByteReader.h"
#include "platform/text/TextCodec.h"

namespace engine {

using platform::FileError;

namespace {

// What is read of each file for its sizes: an icon directory of 256 entries.
constexpr std::size_t kHeadBytes = 6 + 16 * 256;
// An index larger than this is not read whole; the page shows what it holds up to there.
constexpr std::size_t kMaxIndexBytes = 256u << 20;
constexpr int kThumb = 64;

struct Size {
    uint32_t w = 0, h = 0;
    auto operator<=>(const Size&) const = default;
};

struct Png {
    std::string file;
    Size size;
};

struct Item {
    std::string file, source, name;
    std::vector<Size> sizes;
    std::vector<Png> pngs;
};

// A program file's items of one kind, in the order the index lists them.
struct Program {
    std::string source;
    std::vector<Item> items;
};

// Text for HTML: the markup characters escaped, bytes that are not UTF-8
// shown as U+FFFD so the page stays valid UTF-8.
std::string Html(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t at = i;
        const char32_t cp = platform::text::NextUtf8(s, i);
        if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out += "\xEF\xBF\xBD";
            continue;
        }
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.append(s.substr(at, i - at));
        }
    }
    return out;
}

// A relative URL of a file below the destination: every byte but the
// unreserved ones and the folder separator percent-encoded.
std::string Url(std::string_view folder, std::string_view file) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    const std::string path = std::string(folder) + "/" + std::string(file);
    for (const unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain || c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == '(' || c == ')' || c == ',') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// "x.ico - SOURCE FILE = C:\a.dll RESOURCE TYPE = 14 RESOURCE NAME = 22"; the
// type of the folder's kind marks where the source ends, whatever the
// names hold. Empty for a line that is not one of ours or names no file of
// this folder.
std::optional<Item> ParseLine(std::string_view line, int kind) {
    constexpr std::string_view kSource = " - SOURCE FILE = ";
    const std::string typeMark = " RESOURCE TYPE = " + TypeTextOf(kind) + " RESOURCE NAME = ";
    const std::size_t source = line.find(kSource);
    if (source == std::string_view::npos) return std::nullopt;
    const std::size_t type = line.find(typeMark, source + kSource.size());
    if (type == std::string_view::npos) return std::nullopt;
    Item item;
    item.file = line.substr(0, source);
    if (item.file.empty() || item.file == "." || item.file == ".." || item.file.find('/') != std::string::npos)
        return std::nullopt;
    item.source = line.substr(source + kSource.size(), type - source - kSource.size());
    item.name = line.substr(type + typeMark.size());
    return item;
}

// The sizes a file states: an icon's or cursor's directory, a bitmap's
// header, a PNG's header chunk.
std::vector<Size> SizesOf(std::span<const uint8_t> head, int kind, bool png) {
    std::vector<Size> sizes;
    if (png) {
        if (const auto s = platform::PngSize(head)) sizes.push_back({s->first, s->second});
        return sizes;
    }
    if (kind == RES_BITMAP) {
        const auto info = head.size() > 14 ? platform::DibInfo(head.subspan(14)) : std::nullopt;
        if (info) sizes.push_back({static_cast<uint32_t>(info->width), static_cast<uint32_t>(info->height)});
    } else if (kind == RES_ICON || kind == RES_CURSOR) {
        for (const platform::IconFileEntry& e : platform::IconFileDirectory(head)) sizes.push_back({e.width, e.height});
        std::sort(sizes.begin(), sizes.end());
        sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    }
    return sizes;
}

// Reads one kind's index: its items grouped by program file, each PNG line
// joined to the line of the file it came from (the last one before it with
// the same program file and resource name).
std::vector<Program> ReadKind(const std::string& dest, int kind, std::size_t& items) {
    const std::string folder = dest + kKinds[kind].folder;
    std::vector<uint8_t> bytes;
    platform::ReadWholeFile(folder + "/" + kIndexFileName, kMaxIndexBytes, bytes, true);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<Program> programs;
    std::map<std::string, std::size_t> programOf;
    std::map<std::pair<std::string, std::string>, std::pair<std::size_t, std::size_t>> lastItem;
    const bool images = kind == RES_BITMAP || kind == RES_ICON || kind == RES_CURSOR;
    std::vector<uint8_t> head;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        std::optional<Item> item = ParseLine(text.substr(at, end - at), kind);
        at = end + 2;
        if (!item) continue;  // not one of ours
        // A file that is gone, or is no longer a plain file, is left out; a
        // picture's head is read for its sizes (which also tells that).
        const std::string path = folder + "/" + item->file;
        const bool png = images && item->file.ends_with(".png");
        if (images ? platform::ReadWholeFile(path, kHeadBytes, head, true).number != 0 : !platform::IsPlainFile(path))
            continue;
        if (images) item->sizes = SizesOf(head, kind, png);
        const auto key = std::pair{item->source, item->name};
        if (png) {
            auto owner = lastItem.find(key);
            if (owner != lastItem.end() && !item->sizes.empty()) {
                programs[owner->second.first].items[owner->second.second].pngs.push_back({item->file, item->sizes[0]});
                continue;
            }
        }
        auto [it, added] = programOf.try_emplace(item->source, programs.size());
        if (added) programs.push_back({item->source, {}});
        Program& program = programs[it->second];
        lastItem[key] = {it->second, program.items.size()};
        program.items.push_back(std::move(*item));
        ++items;
    }
    return programs;
}

std::string SizeText(Size s) { return std::to_string(s.w) + "\xC3\x97" + std::to_string(s.h); }

// The picture a card shows: a PNG of the item near the thumbnail's size
// when there are some (every browser shows those), else the file itself.
std::string Thumbnail(const Item& item, int kind, const std::string& folder) {
    const Png* best = nullptr;
    for (const Png& p : item.pngs) {
        const auto side = std::max(p.size.w, p.size.h), bestSide = best ? std::max(best->size.w, best->size.h) : 0;
        if (!best || (side <= kThumb ? bestSide > kThumb || side > bestSide : bestSide > kThumb && side < bestSide))
            best = &p;
    }
    Size size = best ? best->size : Size{};
    if (!best && !item.sizes.empty()) {
        size = item.sizes.back();
        for (const Size& s : item.sizes)
            if (std::max(s.w, s.h) <= kThumb) size = s;
    }
    // Fitted to the thumbnail's size, its shape kept; a small picture is
    // enlarged by a whole factor, so its pixels stay sharp.
    const uint64_t side = std::max({size.w, size.h, 1u});
    const auto fit = [side](uint64_t n) {
        return side > kThumb ? std::max<uint64_t>(1, n * kThumb / side) : std::max<uint64_t>(n, 1) * (kThumb / side);
    };
    const uint64_t w = fit(size.w), h = fit(size.h);
    const std::string alt = std::string(kKinds[kind].label) + " " + item.name;
    return "<img src=\"" + Url(folder, best ? best->file : item.file) + "\" width=\"" + std::to_string(w) +
           "\" height=\"" + std::to_string(h) + "\" loading=\"lazy\" alt=\"" + Html(alt) + "\">";
}

// A PNG's link text: what its name adds to its file's ("48x48 8-bit"), or its size.
std::string PngLabel(const Item& item, const Png& png) {
    const std::string stem = item.file.substr(0, item.file.rfind('.')) + " ";
    if (png.file.starts_with(stem) && png.file.ends_with(".png") && png.file.size() > stem.size() + 4)
        return png.file.substr(stem.size(), png.file.size() - stem.size() - 4);
    return SizeText(png.size);
}

void AppendItem(std::string& out, const Item& item, int kind, const std::string& folder) {
    const bool images = kind == RES_BITMAP || kind == RES_ICON || kind == RES_CURSOR;
    std::string sizes;
    for (const Size& s : item.sizes) sizes += (sizes.empty() ? "" : ", ") + SizeText(s);
    out += "<figure data-text=\"" + Html(item.name + " " + item.file) + "\"><a class=\"thumb\" href=\"" +
           Url(folder, item.file) + "\">";
    out += images ? Thumbnail(item, kind, folder) : "<span>" + Html(kKinds[kind].label) + "</span>";
    out += "</a><figcaption><b>" + Html(item.name) + "</b><br><small>" + Html(item.file) + "</small>";
    if (!sizes.empty()) out += "<br><small>" + sizes + "</small>";
    if (!item.pngs.empty()) {
        // Smallest first, as the sizes above.
        std::vector<Png> pngs = item.pngs;
        std::stable_sort(pngs.begin(), pngs.end(), [](const Png& a, const Png& b) {
            return uint64_t{a.size.w} * a.size.h < uint64_t{b.size.w} * b.size.h;
        });
        out += "<br><small>PNG:";
        for (const Png& p : pngs) out += " <a href=\"" + Url(folder, p.file) + "\">" + Html(PngLabel(item, p)) + "</a>";
        out += "</small>";
    }
    out += "</figcaption></figure>\n";
}

constexpr const char* kStyle = R"(
:root{color-scheme:light dark;font:14px/1.4 system-ui,sans-serif}
body{margin:0 1.5em 2em}
header{position:sticky;top:0;padding:.8em 0;background:Canvas;border-bottom:1px solid GrayText;z-index:1}
h1{font-size:1.3em;margin:0 0 .4em}
input[type=search]{font:inherit;width:min(32em,100%);padding:.3em .5em}
h2{font-size:1.15em;margin:1.2em 0 .4em}
details{display:inline-block;vertical-align:top;max-width:100%;margin:.3em 1.2em .3em 0}
summary{cursor:pointer;padding:.2em 0;overflow-wrap:anywhere}
section{scroll-margin-top:6em}
.grid{display:flex;flex-wrap:wrap;gap:.6em;margin:.4em 0 0}
figure{margin:0;width:9.5em;padding:.4em;border:1px solid color-mix(in srgb,GrayText 40%,transparent);border-radius:4px}
.thumb{display:flex;align-items:center;justify-content:center;height:68px;
  background:repeating-conic-gradient(#8882 0 25%,transparent 0 50%) 0 0/12px 12px}
.thumb img{image-rendering:pixelated}
.thumb span{font-size:.85em;color:GrayText}
figcaption{margin-top:.3em;font-size:.9em;overflow-wrap:anywhere}
figcaption a{white-space:nowrap}
[hidden]{display:none!important}
)";

constexpr const char* kScript = R"(
const box = document.getElementById('filter');
const shown = document.getElementById('shown');
// A group's cards: in the page once shown, in its template before.
function cards(grid) {
  const waiting = grid.querySelector(':scope > template');
  return (waiting ? waiting.content : grid).querySelectorAll('figure');
}
const near = new IntersectionObserver(entries => {
  for (const e of entries) {
    if (!e.isIntersecting) continue;
    const waiting = e.target.querySelector(':scope > template');
    if (waiting) e.target.replaceChildren(waiting.content);
    near.unobserve(e.target);
  }
}, {rootMargin: '1500px'});
document.querySelectorAll('.grid').forEach(g => near.observe(g));

let timer = 0;
function apply() {
  const words = box.value.toLowerCase().split(/\s+/).filter(Boolean);
  let total = 0;
  for (const program of document.querySelectorAll('details')) {
    const source = program.dataset.source.toLowerCase();
    let n = 0;
    for (const f of cards(program.querySelector('.grid'))) {
      const text = f.dataset.text.toLowerCase() + ' ' + source;
      const hit = words.every(w => text.includes(w));
      f.hidden = !hit;
      n += hit;
    }
    program.hidden = n === 0;
    program.querySelector('.count').textContent = n;
    total += n;
  }
  for (const kind of document.querySelectorAll('section'))
    kind.hidden = !kind.querySelector('details:not([hidden])');
  shown.textContent = total;
}
box.addEventListener('input', () => { clearTimeout(timer); timer = setTimeout(apply, 150); });
)";

}  // namespace

std::string GalleryHtml(const std::string& destFolder, std::size_t& items) {
    const std::string dest = platform::AddBackslash(destFolder);
    items = 0;
    std::string body;
    for (int kind = 0; kind < kResKindCount; ++kind) {
        std::size_t count = 0;
        const std::vector<Program> programs = ReadKind(dest, kind, count);
        if (programs.empty()) continue;
        items += count;
        body += "<section><h2>" + Html(kKinds[kind].folder) + " (" + std::to_string(count) + ")</h2>\n";
        for (const Program& program : programs) {
            // The program's own name; the whole path when the pointer rests on
            // it. Its cards wait in a template until they come near the view,
            // so a page of thousands opens at once.
            const std::size_t cut = program.source.find_last_of("/\\") + 1;
            const std::string source = Html(program.source);
            body += "<details open data-source=\"" + source + "\"><summary title=\"" + source + "\"><b>" +
                    Html(program.source.substr(cut)) + "</b> (<span class=\"count\">" +
                    std::to_string(program.items.size()) + "</span>)</summary><div class=\"grid\"><template>\n";
            for (const Item& item : program.items) AppendItem(body, item, kind, kKinds[kind].folder);
            body += "</template></div></details>\n";
        }
        body += "</section>\n";
    }
    const std::string title = "Resources in " + Html(destFolder);
    const std::string count = std::to_string(items);
    const std::string filter = "Filter by name or program file";
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self' file:; "
        "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n";
    page += "<title>" + title + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<header>\n<h1>" + title +
            "</h1>\n<input type=\"search\" id=\"filter\" placeholder=\"" + filter + "\" aria-label=\"" + filter +
            "\"> <span aria-live=\"polite\"><span id=\"shown\">" + count + "</span> of " + count +
            " shown</span>\n</header>\n<main>\n";
    if (items == 0) page += "<p>No resources have been saved here yet.</p>\n";
    page += body + "</main>\n<noscript><p>Turn on JavaScript to see the pictures.</p></noscript>\n<script>" + kScript +
            "</script>\n</body>\n</html>\n";
    return page;
}

FileError WriteGalleryPage(const std::string& destFolder, GalleryPage& page) {
    page = {};
    const std::string html = GalleryHtml(destFolder, page.items);
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(html.data()), html.size());
    std::string folder = destFolder;
    while (folder.size() > 1 && folder.back() == platform::kPathSep) folder.pop_back();
    // The free-name rule of every file we write: index.html, index (2).html ...
    for (int tries = 0; tries < kMaxNameRetries; ++tries) {
        FileError problem;
        const std::string path = FindFreePath(folder, kGalleryName, ".html", problem);
        if (problem.number) return problem;
        bool created = false;
        const FileError e = platform::WriteNewFile(path, bytes, created);
        if (e.number == platform::kErrFileAlreadyExists) continue;  // taken meanwhile
        if (!e.number) page.path = path;
        return e;
    }
    return {platform::kErrFileAlreadyExists, "File already exists"};
}

}  // namespace engine
