// The clip reader: its own clip, each frame format, and damaged files refused or drawn inside their bounds.
#include "AviBuilder.h"
#include "platform/qt/AviClip.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

using namespace avitest;
using platform::AviClip;
using Canvas = std::vector<uint32_t>;

namespace {

constexpr uint32_t k = 0xFF000000, r = 0xFFFF0000, g = 0xFF00FF00, b = 0xFF0000FF;

TEST(AviClipOwn, ShapeFramesAndReplayInAnyOrder) {
    AviClip clip;
    ASSERT_TRUE(clip.LoadFile(LOOMVALE_SOURCE_DIR "/resources/art/FINDFILES.avi")) << clip.Error();
    EXPECT_EQ(std::tuple(clip.Width(), clip.Height(), clip.FrameCount(), clip.MicroSecPerFrame()),
              std::tuple(272, 60, size_t(24), 100000u));
    // Clear where the page shows, in the page colour for players that ignore
    // the alpha; nothing outside.
    EXPECT_TRUE(clip.HasAlpha());
    EXPECT_EQ(clip.Pixel(271, 59), 0x00EFEFEFu);
    EXPECT_EQ(clip.Pixel(272, 0) | clip.Pixel(-1, 0), 0u);
    std::vector<Canvas> seq;
    for (size_t i = 0; i < clip.FrameCount(); ++i) {
        ASSERT_TRUE(clip.DecodeFrame(i));
        seq.push_back(clip.Canvas());
        const uint32_t p = clip.Pixel(237, 45);  // the destination folder's front stays amber
        EXPECT_TRUE(p >> 24 == 0xFF && (p >> 16 & 0xFF) > 0xE0 && (p & 0xFF) < 0x50) << i << " " << std::hex << p;
    }
    EXPECT_NE(seq[0], seq[1]);
    // Later frames only paint what changed: out of order they are replayed.
    for (size_t i : {13u, 0u, 23u, 5u, 6u}) EXPECT_TRUE(clip.DecodeFrame(i) && clip.Canvas() == seq[i]) << i;
    EXPECT_FALSE(clip.DecodeFrame(24));
}

TEST(AviClipFormats, IndexedTrueColourAndTheFirstVideoStream) {
    AviClip clip;
    ASSERT_TRUE(clip.Load(Build(Clip()))) << clip.Error();
    EXPECT_EQ(clip.Canvas(), (Canvas{b, k, k, k, g, g, g, g, r, r, r, r}));  // stored bottom-up
    EXPECT_FALSE(clip.HasAlpha());
    // A palette that uses its reserved byte gives every colour that alpha, zero included.
    ASSERT_TRUE(clip.Load(Build(Clip{.redAlpha = 0x80}))) << clip.Error();
    EXPECT_TRUE(clip.HasAlpha());
    EXPECT_EQ(clip.Canvas(), (Canvas{b & 0xFFFFFF, 0, 0, 0, g & 0xFFFFFF, g & 0xFFFFFF, g & 0xFFFFFF, g & 0xFFFFFF,
                                     0x80FF0000, 0x80FF0000, 0x80FF0000, 0x80FF0000}));
    // Rows of nine bytes padded to twelve, top row first; pixels stored B, G, R.
    const Clip rgb{.width = 3, .height = -2, .bits = 24, .colours = 0,
                   .frames = {{0, 0, 255, 0, 255, 0, 255, 0, 0, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9}}};
    ASSERT_TRUE(clip.Load(Build(rgb))) << clip.Error();
    EXPECT_EQ(clip.Canvas(), (Canvas{r, g, b, 0xFF030201, 0xFF060504, 0xFF090807}));
    // After an audio stream the video is stream 1, and "00" chunks are audio.
    for (const char* tag : {"01dc", "00dc"}) {
        Bytes content = Headers(Clip(), true), movi = Chunk("00wb", Bytes(7, 1));  // odd, so padded
        Append(movi, Movi({.frameTag = tag}));
        Append(content, List("movi", movi));
        EXPECT_EQ(clip.Load(Riff(content)), tag[1] == '1') << tag;
    }
}

TEST(AviClipFormats, Rle8CodesAndDeltaFrames) {
    const Clip c{.width = 6, .height = 4, .compression = 1, .frames = {
        // Bottom line: three red, then literals green, blue, green (padded); line end;
        // move two right and one up; two blue; end.
        {3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 1, 2, 3, 0, 1},
        {0, 2, 5, 3, 1, 2, 0, 1},  // only the top right corner changes
        {},                        // an empty chunk repeats the frame before it
    }};
    AviClip clip;
    ASSERT_TRUE(clip.Load(Build(c))) << clip.Error();
    Canvas want = {k, k, k, k, k, k, k, k, b, b, k, k, k, k, k, k, k, k, r, r, r, g, b, g};
    EXPECT_EQ(clip.Canvas(), want);
    want[5] = g;
    for (size_t i : {1, 2}) EXPECT_TRUE(clip.DecodeFrame(i) && clip.Canvas() == want) << i;
}

// A refused clip is left empty, with a reason.
bool Loads(const Bytes& bytes) {
    AviClip clip;
    const bool ok = clip.Load(bytes);
    EXPECT_TRUE(ok || (!clip.IsOpen() && clip.Canvas().empty() && !clip.Error().empty()));
    return ok;
}

TEST(AviClipHostile, TruncatedOversizedAndUnplayableClipsAreRefused) {
    const QByteArray own = resources::ClipBytes(QStringLiteral("FINDFILES"));
    for (qsizetype n = 0; n < own.size(); n += (n < 1400 ? 1 : 97))
        ASSERT_FALSE(Loads(Bytes(own.begin(), own.begin() + n))) << "own clip cut to " << n << " bytes";
    EXPECT_TRUE(Loads(Bytes(own.begin(), own.end())));
    // A chunk or a list larger than its parent, or whose size would wrap around.
    const size_t movi = 12 + Headers(Clip()).size() + 4;  // the movi list's size field
    for (uint32_t size : {100u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        Bytes junk = Chunk("JUNK", Bytes(8, 0)), over = Build(Clip());
        for (int i = 0; i < 4; ++i) junk[4 + i] = over[movi + i] = uint8_t(size >> 8 * i);
        EXPECT_FALSE(Loads(Riff(junk))) << "JUNK chunk of size " << size;
        EXPECT_FALSE(Loads(over)) << "movi list of size " << size;
    }
    EXPECT_FALSE(Loads(Riff(List("movi", Movi(Clip())))));  // frames before the format
    EXPECT_FALSE(Loads(Riff(List("hdrl", Chunk("avih", Bytes(56, 0))))));  // no stream
    const std::pair<const char*, Clip> unplayable[] = {
        {"width 0", {.width = 0}}, {"width -4", {.width = -4}}, {"width 5000", {.width = 5000}},
        {"size INT32_MAX", {.width = INT32_MAX, .height = INT32_MAX}}, {"height 0", {.height = 0}},
        {"height 2049", {.height = 2049}}, {"height INT32_MIN", {.height = INT32_MIN}}, {"16 bit", {.bits = 16}},
        {"RLE4", {.compression = 2}}, {"RLE8 top-down", {.height = -3, .compression = 1}},
        {"257 colours", {.colours = 257}}, {"no frames", {.frames = {}}},
        {"short first frame", {.frames = {Bytes(11, 1)}}},
        {"frames of a stream that does not exist", {.frameTag = "01dc"}},
    };
    for (const auto& [what, c] : unplayable) EXPECT_FALSE(Loads(Build(c))) << what;
    // A palette shorter than it claims: the missing colours are black.
    AviClip clip;
    ASSERT_TRUE(clip.Load(Build({.colours = 200})));
    EXPECT_EQ(clip.Pixel(0, 0), b);
}

TEST(AviClipHostile, FrameChunkAndNestingCountsAreCapped) {
    Clip c;
    c.frames.resize(AviClip::kMaxFrames);
    EXPECT_TRUE(Loads(Build(c)));
    c.frames.emplace_back();
    EXPECT_FALSE(Loads(Build(c)));
    Bytes junk = Headers(Clip());  // a playable clip followed by endless empty chunks
    Append(junk, List("movi", Movi(Clip())));
    for (int i = 0; i < 50000; ++i) Append(junk, Chunk("JUNK", {}));
    EXPECT_FALSE(Loads(Riff(junk)));
    for (int depth : {3, 4, 40}) {
        Bytes inner = Movi(Clip());
        for (int i = 0; i < depth; ++i) inner = List("rec ", inner);
        Bytes nested = Headers(Clip());
        Append(nested, List("movi", inner));
        EXPECT_EQ(Loads(Riff(nested)), depth < 4) << depth;
    }
}

TEST(AviClipHostile, DamagedRleFramesDrawOnlyInsideTheFrame) {
    Clip c{.compression = 1};
    const std::pair<Bytes, bool> frames[] = {
        {{0, 40, 1, 2, 3}, false},                 // literals past the end of the data
        {{0, 2, 1}, false},                        // cut-off move
        {{255, 1, 255, 2, 0, 0, 1, 3}, true},      // runs far past the right edge
        {{0, 2, 255, 255, 9, 1, 0, 255, 1}, true}, // moves past the top, then draws
        {{0, 0, 0, 0, 0, 0, 0, 0, 7, 2}, true},    // more lines than the frame has
    };
    AviClip clip;
    for (const auto& [frame, decodes] : frames) {
        c.frames = {{2, 1, 0, 1}, frame};
        ASSERT_TRUE(clip.Load(Build(c)));
        EXPECT_EQ(clip.DecodeFrame(1), decodes) << int(frame[1]);
        EXPECT_EQ(clip.Canvas().size(), 12u);
        // A run past the edge is cut there, not wrapped onto the next line.
        EXPECT_TRUE(frame[0] != 255 || clip.Canvas() == (Canvas{k, k, k, k, b, k, k, k, r, r, r, r}));
    }
}

}  // namespace
