// Sync tracks without an editor: values of every key type at fractional rows
// (literal numbers, as the protocol's client library gives them), track file
// names, damaged files, saving and reading back, and the Sync package as a
// script sees it.
// gtest first: Perl's headers define macros (Stat, Abort) that its own use.
#include <gtest/gtest.h>

#include "sync/Track.h"
#include "sync/TrackFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/perl/EmbeddedPerl.h"

#include <cstring>
#include <unistd.h>

using namespace synctrack;
using testing_support::TempDir;

namespace {

Track TwoKeys(KeyType type, float from, float to, int fromRow = 0, int toRow = 4)
{
    Track track("t");
    track.SetKey({toRow, to, KeyType::Step});
    track.SetKey({fromRow, from, type});
    return track;
}

TEST(SyncTrack, ValuesByKeyTypeAndEdges)
{
    // 0.1f and 0.7f: their difference is taken in single precision, so the
    // numbers differ from a computation in double in the last digits.
    struct Case {
        KeyType type;
        double row;
        double expected;
    } cases[] = {
        {KeyType::Step, 1.5, 0.100000001490116119},
        {KeyType::Linear, 1.5, 0.32499998807907104},
        {KeyType::Smooth, 1.5, 0.28984374017454684},
        {KeyType::Ramp, 1.5, 0.18437499646097422},
        {KeyType::Linear, 0.0, 0.100000001490116119},
        {KeyType::Linear, 3.999, 0.69984996573627},
        {KeyType::Linear, -0.5, 0.100000001490116119},   // before the first key
        {KeyType::Linear, 4.0, 0.699999988079071045},    // at the last key
        {KeyType::Smooth, 1e12, 0.699999988079071045},   // far after it
        {KeyType::Ramp, -1e12, 0.100000001490116119},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << static_cast<int>(c.type) << " row " << c.row);
        EXPECT_EQ(TwoKeys(c.type, 0.1f, 0.7f).Value(c.row), c.expected);
    }
    EXPECT_EQ(Track("none").Value(3.0), 0.0);
    // The key at or before the row's floor leads: row 4.9 lies between 4
    // and 8, led by the key at 4 (a step), not the one at 0.
    Track three = TwoKeys(KeyType::Linear, 1.0f, 2.0f);
    three.SetKey({8, 6.0f, KeyType::Linear});
    // (Read from row 2.5 first: the track then looks next to the key at 0.)
    EXPECT_EQ(three.Value(2.5), 1.625);
    EXPECT_EQ(three.Value(4.9), 2.0);
}

TEST(SyncTrack, KeysAreSetReplacedAndDeleted)
{
    Track track("t");
    track.SetKey({5, 1.0f, KeyType::Step});
    track.SetKey({1, 2.0f, KeyType::Step});
    track.SetKey({5, 3.0f, KeyType::Linear});
    ASSERT_EQ(track.Keys().size(), 2u);
    EXPECT_EQ(track.Keys()[0].row, 1);
    EXPECT_EQ(track.Keys()[1].value, 3.0f);
    EXPECT_FALSE(track.DeleteKey(4));
    EXPECT_TRUE(track.DeleteKey(1));
    EXPECT_EQ(track.Value(0.0), 3.0);
}

TEST(SyncFile, NamesAndTheShowFolder)
{
    struct Case {
        const char* name;
        const char* file;
        bool inside;
    } cases[] = {
        {"cam:dist", "sync_cam-3Adist.track", true},
        {"part/one", "sync_part/one.track", true},
        {"a b\xff", "sync_a-20b-FF.track", true},
        {"../../../x", "sync_../../../x.track", false},
        {"a/../../../b", "sync_a/../../../b.track", false},
        {"a/../b", "sync_a/../b.track", true},
        {"x/..", "sync_x/...track", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TrackFileName(c.name), c.file);
        EXPECT_EQ(StaysInside(c.name), c.inside);
    }
    EXPECT_EQ(RawTrackFileName("cam:dist"), "sync_cam:dist.track");
}

std::string Le32(std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

std::string KeyBytes(std::int32_t row, float value, std::uint8_t type)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return Le32(static_cast<std::uint32_t>(row)) + Le32(bits) + std::string(1, static_cast<char>(type));
}

TEST(SyncFile, DamagedFilesAreEmptyTracksWithAReason)
{
    const std::string two = KeyBytes(0, 1.0f, 1) + KeyBytes(8, 2.0f, 0);
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"short count", std::string("\2\0", 2), "truncated"},
        {"truncated key", Le32(2) + two.substr(0, 13), "truncated"},
        {"trailing bytes", Le32(2) + two + "x", "trailing"},
        {"count too small", Le32(1) + two, "1 keys counted, but the size holds 2"},
        {"negative count", Le32(0xffffffffu) + two, "does not match"},
        {"type above 3", Le32(2) + KeyBytes(0, 1.0f, 4) + KeyBytes(8, 2.0f, 0), "type 4"},
        {"rows not ascending", Le32(2) + KeyBytes(8, 1.0f, 1) + KeyBytes(8, 2.0f, 0), "does not come after"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("f.track", c.bytes);
        std::vector<Key> keys{{1, 1.0f, KeyType::Step}};
        std::string why;
        EXPECT_EQ(LoadTrackFile(dir / "f.track", &keys, &why), LoadResult::Damaged);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_TRUE(keys.empty());
    }
    std::vector<Key> keys;
    std::string why;
    EXPECT_EQ(LoadTrackFile(dir / "missing.track", &keys, &why), LoadResult::Missing);
    dir.Write("f.track", Le32(0));
    EXPECT_EQ(LoadTrackFile(dir / "f.track", &keys, &why), LoadResult::Loaded);
}

TEST(SyncFile, SavedFilesReadBackBitForBit)
{
    TempDir dir;
    const std::vector<Key> keys{{-3, -0.0f, KeyType::Ramp}, {0, 0.1f, KeyType::Smooth}, {70000, 1e30f, KeyType::Step}};
    std::string why;
    ASSERT_TRUE(SaveTrackFile(dir / TrackFileName("part/one"), keys, &why)) << why;
    std::vector<Key> back;
    ASSERT_EQ(LoadTrackFile(dir / "sync_part/one.track", &back, &why), LoadResult::Loaded) << why;
    ASSERT_EQ(back.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(back[i].row, keys[i].row);
        EXPECT_EQ(std::memcmp(&back[i].value, &keys[i].value, 4), 0);
        EXPECT_EQ(back[i].type, keys[i].type);
    }
    EXPECT_EQ(access((dir / "sync_part/one.track.saving").c_str(), F_OK), -1);
}

// The package in an interpreter of its own, in a show folder of its own.
class SyncPackage : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(home_, sizeof home_), nullptr);
        // Two files for track "cam:dist": the encoded one wins.
        dir_.Write("sync_cam-3Adist.track", Le32(2) + KeyBytes(0, 1.0f, 1) + KeyBytes(16, 3.0f, 0));
        dir_.Write("sync_cam:dist.track", Le32(1) + KeyBytes(0, 9.0f, 0));
        dir_.Write("sync_old:name.track", Le32(1) + KeyBytes(0, 5.0f, 0));
        dir_.Write("sync_bad.track", Le32(3));
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        perl_.Eval("Sync::boot_Sync();");
        ASSERT_EQ(perl_.error(), "");
    }
    void TearDown() override { ASSERT_EQ(chdir(home_), 0); }

    TempDir dir_;
    char home_[4096];
    testing_support::EmbeddedPerl perl_;
};

TEST_F(SyncPackage, TempoRowsAndValues)
{
    // 120 bpm, 8 rows a beat: 16 rows a second.
    EXPECT_EQ(perl_.EvalNumber("Sync::Row(1000)"), 16.0);
    EXPECT_EQ(perl_.EvalNumber("Sync::Row(93.75)"), 1.5);
    EXPECT_EQ(perl_.EvalNumber("Sync::Track('cam:dist')->Value(250)"), 1.5);      // row 4 of 0..16
    EXPECT_EQ(perl_.EvalNumber("Sync::Track('old:name')->Value(0)"), 5.0);        // the raw name's file
    EXPECT_EQ(perl_.EvalNumber("Sync::Tempo(60, 4)"), 1.0);
    EXPECT_EQ(perl_.EvalNumber("Sync::Row(1500)"), 6.0);
    EXPECT_EQ(perl_.EvalNumber("Sync::Track('cam:dist')->Value(2000)"), 2.0);     // row 8
    EXPECT_EQ(perl_.EvalInteger("${Sync::Track('a/b')} == ${Sync::Track('a/b')} ? 1 : 0"), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(perl_.EvalNumber("Sync::Track('bad')->Value(100)"), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "sync: sync_bad.track: truncated: 3 keys counted, 27 bytes short; the track is empty\n");
}

TEST_F(SyncPackage, ErrorsNameTheSub)
{
    struct Case {
        const char* code;
        const char* message;
    } cases[] = {
        {"Sync::Tempo(120)", "Usage: Sync::Tempo(bpm, rows_per_beat)"},
        {"Sync::Track()", "Usage: Sync::Track(name)"},
        {"Sync::Track('a')->Value()", "Usage: Sync::Track::Value(THIS, msec)"},
        {"Sync::Row()", "Usage: Sync::Row(msec)"},
        {"Sync::Tempo(0, 8)", "Sync::Tempo: bpm and rows_per_beat must be finite numbers above 0"},
        {"Sync::Tempo(120, 9**9**9)", "Sync::Tempo: bpm and rows_per_beat must be finite numbers above 0"},
        {"Sync::Tempo(-9**9**9/9**9**9, 8)", "Sync::Tempo: bpm and rows_per_beat must be finite numbers above 0"},
        {"Sync::Track('')", "Sync::Track: the track name is empty"},
        {"Sync::Track('../../../x')", "Sync::Track: the file of track \"../../../x\" would lie outside the show folder"},
        {"Sync::Track('a/../../../b')", "Sync::Track: the file of track \"a/../../../b\" would lie outside the show folder"},
        {"Sync::Track::Value(\\5, 0)", "Sync::Track::Value: THIS is not a Sync::Track object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        perl_.Eval(c.code);
        EXPECT_EQ(perl_.error().substr(0, std::strlen(c.message)), c.message) << perl_.error();
        EXPECT_NE(perl_.error().find(" at (eval "), std::string::npos);
    }
}

}  // namespace
