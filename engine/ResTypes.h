// The kinds of resource the engine knows, the user's selection of them, and
// the owner interface through which the engine reports each file written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "platform/module/PeResources.h"

namespace engine {

// Booleans stored in memory or passed by reference are 16-bit, True = -1.
using VBBool = int16_t;
inline constexpr VBBool kTrue = -1;
inline constexpr VBBool kFalse = 0;

// Index of a kind; also the order of the kinds everywhere.
enum ResKind : int32_t {
    RES_BITMAP = 0,
    RES_ICON = 1,
    RES_CURSOR = 2,
    RES_ANICURSOR = 3,
    RES_VIDEO = 4,
    RES_HTML = 5,
};
inline constexpr int kResKindCount = 6;

// The user's selection, in kind order.
struct ResTypes {
    VBBool Bitmap = kFalse;
    VBBool Icon = kFalse;
    VBBool Cursor = kFalse;
    VBBool AniCursor = kFalse;
    VBBool Video = kFalse;
    VBBool HTML = kFalse;

    VBBool& operator[](int kind) { return (&Bitmap)[kind]; }
    VBBool operator[](int kind) const { return (&Bitmap)[kind]; }
};
static_assert(sizeof(ResTypes) == 12);

struct KindInfo {
    const char* key;     // item key: "BITMAP"
    const char* label;   // text shown: "Bitmap"
    platform::ResourceType type;  // the resource type it is, when a numbered one
    const char* typeName;         // the type's name when it has one instead: "AVI"
    const char* folder;  // folder below the destination: "Bitmaps"
    const char* extension;  // ".bmp"; "" for web pages (they keep their own)
};

inline constexpr std::array<KindInfo, kResKindCount> kKinds{{
    {"BITMAP", "Bitmap", platform::ResourceType::Bitmap, nullptr, "Bitmaps", ".bmp"},
    {"ICON", "Icon", platform::ResourceType::GroupIcon, nullptr, "Icons", ".ico"},
    {"CURSOR", "Cursor", platform::ResourceType::GroupCursor, nullptr, "Cursors", ".cur"},
    {"ANICURSOR", "Animated cursor", platform::ResourceType::AniCursor, nullptr, "Animated Cursors", ".ani"},
    {"VIDEO", "Video (AVI)", platform::ResourceType{}, "AVI", "Videos", ".avi"},
    {"HTML", "Web page", platform::ResourceType::Html, nullptr, "Web pages", ""},
}};

// A resource name's value: a 32-bit integer for an ID, text for a string name.
using ResName = std::variant<int32_t, std::string>;

// The owner of a scan. ResFound is called once per resource written, after
// its file is complete and its index line appended.
class IResOwner {
public:
    virtual ~IResOwner() = default;
    virtual void ResFound(int32_t& ResType, ResName& Name) = 0;
    // Called while a file is scanned and between two resources, never while
    // one is written, so that a window can paint. Cancel set to True stops
    // the scan there: every file written so far is complete.
    virtual void Idle(VBBool& Cancel) { (void)Cancel; }
};

}  // namespace engine
