// The clip reader: the program's own clip, each frame format, and damaged
// files that must be refused (or drawn safely) without reading or writing
// outside their bounds.
#include "AviBuilder.h"
#include "controls/AviClip.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <climits>
#include <random>
#include <set>

using avitest::Bytes;
using avitest::Clip;
using loomvale::AviClip;

namespace {

Bytes OwnClip() {
    const QByteArray b = resources::ClipBytes(QStringLiteral("FINDFILES"));
    return Bytes(b.begin(), b.end());
}

bool Near(uint32_t argb, uint32_t rgb, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((argb >> shift) & 0xFF) - int((rgb >> shift) & 0xFF)) > tolerance) return false;
    return (argb >> 24) == 0xFF;
}

Clip Indexed4x3() {
    Clip c;
    // Bottom-up rows of four bytes: bottom all red, middle green, top blue then black.
    c.frames = {{1, 1, 1, 1, 2, 2, 2, 2, 3, 0, 0, 0}};
    return c;
}

// ---------------------------------------------------------------- own clip

TEST(AviClipOwn, ShapeRateAndBackground) {
    const Bytes bytes = OwnClip();
    ASSERT_FALSE(bytes.empty());
    AviClip clip;
    ASSERT_TRUE(clip.Load(bytes)) << clip.Error();
    EXPECT_EQ(clip.Width(), 272);
    EXPECT_EQ(clip.Height(), 60);
    EXPECT_EQ(clip.FrameCount(), 24u);
    EXPECT_EQ(clip.FrameFormat(), AviClip::Format::Rle8);
    EXPECT_EQ(clip.MicroSecPerFrame(), 100000u);
    // The page colour, so the clip sits on the progress page.
    EXPECT_EQ(clip.Pixel(0, 0), 0xFFEFEFEFu);
    EXPECT_EQ(clip.Pixel(271, 59), 0xFFEFEFEFu);
    // The destination folder's front, amber, in every frame.
    for (size_t i = 0; i < clip.FrameCount(); ++i) {
        ASSERT_TRUE(clip.DecodeFrame(i));
        EXPECT_TRUE(Near(clip.Pixel(237, 45), 0xF2B13C, 10)) << i << " " << std::hex << clip.Pixel(237, 45);
    }
    EXPECT_EQ(clip.Pixel(272, 0), 0u);
    EXPECT_EQ(clip.Pixel(-1, 0), 0u);
}

TEST(AviClipOwn, FramesMoveAndReplayInAnyOrder) {
    AviClip clip;
    ASSERT_TRUE(clip.Load(OwnClip()));
    std::vector<std::vector<uint32_t>> seq;
    for (size_t i = 0; i < clip.FrameCount(); ++i) {
        ASSERT_TRUE(clip.DecodeFrame(i));
        seq.push_back(clip.Canvas());
    }
    EXPECT_EQ(std::set<std::vector<uint32_t>>(seq.begin(), seq.end()).size(), seq.size());
    // Later frames only paint what changed: out of order they are replayed.
    for (size_t i : {13u, 0u, 23u, 5u, 6u}) {
        ASSERT_TRUE(clip.DecodeFrame(i));
        EXPECT_EQ(clip.Canvas(), seq[i]) << i;
    }
    EXPECT_FALSE(clip.DecodeFrame(24));
}

TEST(AviClipOwn, MatchesTheFileInTheSourceTree) {
    QFile file(QStringLiteral(LOOMVALE_SOURCE_DIR "/resources/art/FINDFILES.avi"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray disk = file.readAll();
    EXPECT_EQ(Bytes(disk.begin(), disk.end()), OwnClip());
    AviClip clip;
    EXPECT_TRUE(clip.LoadFile(file.fileName().toStdString()));
    EXPECT_FALSE(clip.LoadFile("/nonexistent/clip.avi"));
}

// ---------------------------------------------------------------- formats

TEST(AviClipFormats, IndexedFramesRunBottomUp) {
    AviClip clip;
    ASSERT_TRUE(clip.Load(avitest::Build(Indexed4x3()))) << clip.Error();
    EXPECT_EQ(clip.FrameFormat(), AviClip::Format::Rgb8);
    EXPECT_EQ(clip.Pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(clip.Pixel(1, 0), 0xFF000000u);
    EXPECT_EQ(clip.Pixel(3, 1), 0xFF00FF00u);
    EXPECT_EQ(clip.Pixel(2, 2), 0xFFFF0000u);
    EXPECT_EQ(clip.MicroSecPerFrame(), 50000u);  // scale 1 over rate 20
}

TEST(AviClipFormats, TrueColourTopDownWithPaddedRows) {
    Clip c;
    c.width = 3;
    c.height = -2;
    c.bits = 24;
    c.colours = 0;
    c.palette.clear();
    // Rows of nine bytes padded to twelve, top row first; pixels stored B, G, R.
    c.frames = {{0, 0, 255, 0, 255, 0, 255, 0, 0, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9}};
    AviClip clip;
    ASSERT_TRUE(clip.Load(avitest::Build(c))) << clip.Error();
    EXPECT_EQ(clip.Height(), 2);
    EXPECT_EQ(clip.Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(clip.Pixel(1, 0), 0xFF00FF00u);
    EXPECT_EQ(clip.Pixel(2, 0), 0xFF0000FFu);
    EXPECT_EQ(clip.Pixel(0, 1), 0xFF030201u);
}

TEST(AviClipFormats, Rle8CodesAndDeltaFrames) {
    Clip c;
    c.width = 6;
    c.height = 4;
    c.compression = 1;
    c.frames = {
        // Bottom line: three red, then literals green, blue, green (padded); line end;
        // move two right and one up; two blue; end.
        {3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 1, 2, 3, 0, 1},
        // Only the top right corner changes.
        {0, 2, 5, 3, 1, 2, 0, 1},
        // An empty chunk repeats the frame before it.
        {},
    };
    AviClip clip;
    ASSERT_TRUE(clip.Load(avitest::Build(c))) << clip.Error();
    const int bottom = 3;
    EXPECT_EQ(clip.Pixel(0, bottom), 0xFFFF0000u);
    EXPECT_EQ(clip.Pixel(2, bottom), 0xFFFF0000u);
    EXPECT_EQ(clip.Pixel(3, bottom), 0xFF00FF00u);
    EXPECT_EQ(clip.Pixel(4, bottom), 0xFF0000FFu);
    EXPECT_EQ(clip.Pixel(5, bottom), 0xFF00FF00u);
    EXPECT_EQ(clip.Pixel(1, 2), 0xFF000000u);  // skipped: colour 0
    EXPECT_EQ(clip.Pixel(2, 1), 0xFF0000FFu);
    EXPECT_EQ(clip.Pixel(3, 1), 0xFF0000FFu);
    const std::vector<uint32_t> first = clip.Canvas();
    ASSERT_TRUE(clip.DecodeFrame(1));
    EXPECT_EQ(clip.Pixel(5, 0), 0xFF00FF00u);
    EXPECT_EQ(clip.Pixel(3, 1), 0xFF0000FFu);
    EXPECT_EQ(clip.Pixel(0, bottom), 0xFFFF0000u);
    const std::vector<uint32_t> second = clip.Canvas();
    ASSERT_TRUE(clip.DecodeFrame(2));
    EXPECT_EQ(clip.Canvas(), second);
    ASSERT_TRUE(clip.DecodeFrame(0));
    EXPECT_EQ(clip.Canvas(), first);
}

TEST(AviClipFormats, FirstVideoStreamAfterAnAudioStream) {
    Clip c = Indexed4x3();
    Bytes avih(56, 0);
    Bytes audio = avitest::Chunk("strh", avitest::StreamHeader(c, "auds"));
    avitest::Append(audio, avitest::Chunk("strf", Bytes(16, 0)));
    Bytes video = avitest::Chunk("strh", avitest::StreamHeader(c));
    avitest::Append(video, avitest::Chunk("strf", avitest::Format(c)));
    Bytes hdrl = avitest::Chunk("avih", avih);
    avitest::Append(hdrl, avitest::List("strl", audio));
    avitest::Append(hdrl, avitest::List("strl", video));
    Bytes movi = avitest::Chunk("00wb", Bytes(7, 1));  // odd audio chunk, padded
    Bytes rec = avitest::Chunk("01dc", c.frames[0]);
    avitest::Append(rec, avitest::Chunk("00dc", Bytes(12, 2)));  // the audio stream's number
    avitest::Append(movi, avitest::List("rec ", rec));
    avitest::Append(movi, avitest::Chunk("01db", Bytes(12, 2)));
    Bytes content = avitest::List("hdrl", hdrl);
    avitest::Append(content, avitest::List("movi", movi));
    AviClip clip;
    ASSERT_TRUE(clip.Load(avitest::Riff(content))) << clip.Error();
    EXPECT_EQ(clip.FrameCount(), 2u);
    EXPECT_EQ(clip.Pixel(0, 0), 0xFF0000FFu);
    ASSERT_TRUE(clip.DecodeFrame(1));
    EXPECT_EQ(clip.Pixel(0, 0), 0xFF00FF00u);
}

// ---------------------------------------------------------------- hostile input

bool Loads(const Bytes& b) {
    AviClip clip;
    const bool ok = clip.Load(b);
    if (!ok) {
        EXPECT_FALSE(clip.IsOpen());
        EXPECT_TRUE(clip.Canvas().empty());
        EXPECT_FALSE(clip.Error().empty());
    }
    return ok;
}

TEST(AviClipHostile, EveryTruncationIsRefused) {
    const Bytes own = OwnClip();
    for (size_t n = 0; n < own.size(); n += (n < 1400 ? 1 : 97))
        ASSERT_FALSE(Loads(Bytes(own.begin(), own.begin() + n))) << n;
    EXPECT_TRUE(Loads(own));
    EXPECT_FALSE(Loads({}));
}

TEST(AviClipHostile, SizesThatDoNotFit) {
    // A chunk larger than its list, and one whose size would wrap around.
    for (uint32_t size : {100u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        Bytes content = avitest::List("hdrl", {});
        avitest::PutTag(content, "JUNK");
        avitest::Put32(content, size);
        avitest::Append(content, Bytes(8, 0));
        EXPECT_FALSE(Loads(avitest::Riff(content))) << size;
    }
    // RIFF size beyond the file.
    Bytes b = avitest::Build(Indexed4x3());
    b[4] = 0xFF;
    b[5] = 0xFF;
    EXPECT_FALSE(Loads(b));
    for (auto [w, h] : std::initializer_list<std::pair<int32_t, int32_t>>{
             {0, 3}, {-4, 3}, {4, 0}, {5000, 3}, {4, 2049}, {4, INT32_MIN}, {INT32_MAX, INT32_MAX}}) {
        Clip c = Indexed4x3();
        c.width = w;
        c.height = h;
        EXPECT_FALSE(Loads(avitest::Build(c))) << w << "x" << h;
    }
}

TEST(AviClipHostile, FormatsAndHeadersThatCannotBePlayed) {
    Clip c = Indexed4x3();
    c.bits = 16;
    EXPECT_FALSE(Loads(avitest::Build(c)));
    c = Indexed4x3();
    c.compression = 2;  // RLE4
    EXPECT_FALSE(Loads(avitest::Build(c)));
    c = Indexed4x3();
    c.compression = 1;
    c.height = -3;  // RLE runs bottom-up only
    EXPECT_FALSE(Loads(avitest::Build(c)));
    c = Indexed4x3();
    c.colours = 257;
    EXPECT_FALSE(Loads(avitest::Build(c)));
    c = Indexed4x3();
    c.frames.clear();
    EXPECT_FALSE(Loads(avitest::Build(c)));
    c = Indexed4x3();
    c.frameTag = "01dc";  // frames of a stream that does not exist
    EXPECT_FALSE(Loads(avitest::Build(c)));
    // Frames before the stream's format.
    c = Indexed4x3();
    Bytes content = avitest::List("movi", avitest::Movi(c));
    EXPECT_FALSE(Loads(avitest::Riff(content)));
    // No stream list at all.
    EXPECT_FALSE(Loads(avitest::Riff(avitest::List("hdrl", avitest::Chunk("avih", Bytes(56, 0))))));
    // Palette shorter than it claims: the missing colours are black.
    c = Indexed4x3();
    c.colours = 200;
    AviClip clip;
    ASSERT_TRUE(clip.Load(avitest::Build(c)));
    EXPECT_EQ(clip.Pixel(0, 0), 0xFF0000FFu);
}

TEST(AviClipHostile, CountsAndNestingAreCapped) {
    Clip c = Indexed4x3();
    c.index = false;
    c.frames.assign(AviClip::kMaxFrames, Bytes());
    c.frames[0] = Indexed4x3().frames[0];
    EXPECT_TRUE(Loads(avitest::Build(c)));
    c.frames.push_back(Bytes());
    EXPECT_FALSE(Loads(avitest::Build(c)));
    // A playable clip followed by endless empty chunks.
    const Bytes good = avitest::Build(Indexed4x3());
    Bytes content(good.begin() + 12, good.end());
    EXPECT_TRUE(Loads(avitest::Riff(content)));
    for (int i = 0; i < 50000; ++i) avitest::Append(content, avitest::Chunk("JUNK", {}));
    EXPECT_FALSE(Loads(avitest::Riff(content)));
}

TEST(AviClipHostile, ListsNestTooDeep) {
    Clip c = Indexed4x3();
    const Bytes good = avitest::Build(c);
    const Bytes movi = avitest::List("movi", avitest::Movi(c));
    // Everything before the frame list of the well-formed clip.
    const auto at = std::search(good.begin(), good.end(), movi.begin(), movi.end());
    ASSERT_NE(at, good.end());
    const Bytes head(good.begin() + 12, at);
    auto nested = [&](int depth) {
        Bytes inner = avitest::Movi(c);
        for (int i = 0; i < depth; ++i) inner = avitest::List("rec ", inner);
        Bytes content = head;
        avitest::Append(content, avitest::List("movi", inner));
        return avitest::Riff(content);
    };
    EXPECT_TRUE(Loads(nested(3)));
    EXPECT_FALSE(Loads(nested(4)));
    EXPECT_FALSE(Loads(nested(40)));
}

TEST(AviClipHostile, DamagedFramesDrawOnlyInsideTheFrame) {
    // A short uncompressed first frame makes the clip unplayable.
    Clip c = Indexed4x3();
    c.frames = {Bytes(11, 1)};
    EXPECT_FALSE(Loads(avitest::Build(c)));
    // A short later frame fails alone.
    c.frames = {Indexed4x3().frames[0], Bytes(5, 1)};
    AviClip clip;
    ASSERT_TRUE(clip.Load(avitest::Build(c)));
    EXPECT_FALSE(clip.DecodeFrame(1));

    c = Indexed4x3();
    c.compression = 1;
    const std::vector<Bytes> bad = {
        {0, 40, 1, 2, 3},                  // literals past the end of the data
        {0, 2, 1},                         // cut-off move
        {255, 1, 255, 2, 0, 0, 1, 3},      // runs far past the right edge
        {0, 2, 255, 255, 9, 1, 0, 255, 1}, // moves past the top, then draws
        {0, 0, 0, 0, 0, 0, 0, 0, 7, 2},    // more lines than the frame has
        {0, 3, 1, 2},                      // three literals, two there
    };
    const bool expected[] = {false, false, true, true, true, false};
    for (size_t i = 0; i < bad.size(); ++i) {
        c.frames = {{2, 1, 0, 1}, bad[i]};
        AviClip rle;
        ASSERT_TRUE(rle.Load(avitest::Build(c))) << i;
        EXPECT_EQ(rle.DecodeFrame(1), expected[i]) << i;
        EXPECT_EQ(rle.Canvas().size(), 12u);
    }
    c.frames = {{255, 1, 255, 2, 0, 0, 1, 3}};
    ASSERT_TRUE(clip.Load(avitest::Build(c)));
    EXPECT_EQ(clip.Pixel(3, 2), 0xFFFF0000u);
    EXPECT_EQ(clip.Pixel(0, 1), 0xFF0000FFu);
}

TEST(AviClipHostile, MutatedClipsNeverReachOutside) {
    const Bytes own = OwnClip();
    std::mt19937 rng(5);
    int opened = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes b = own;
        const int changes = 1 + int(rng() % 8);
        for (int k = 0; k < changes; ++k) {
            // Mostly in the headers and the first frames, where sizes live.
            const size_t at = (round % 2) ? rng() % 1800 : rng() % b.size();
            b[at] = uint8_t(rng() % 4 == 0 ? 0xFF : rng());
        }
        AviClip clip;
        if (!clip.Load(b)) continue;
        ++opened;
        for (size_t i = 0; i < clip.FrameCount(); ++i) clip.DecodeFrame(i);
        clip.DecodeFrame(0);
        EXPECT_EQ(clip.Canvas().size(), size_t(clip.Width()) * size_t(clip.Height()));
    }
    EXPECT_GT(opened, 0);
}

}  // namespace
