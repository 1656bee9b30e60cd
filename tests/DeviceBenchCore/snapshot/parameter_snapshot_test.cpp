// ParameterSnapshot files and SnapshotDiff: a snapshot survives its file unchanged, a broken or
// foreign file is refused whole with a message naming the fault, and differences are found by
// the device bytes, not by the rounded text.
#include <gtest/gtest.h>

#include <fstream>

#include "DeviceBenchCore/snapshot/parameter_snapshot.h"
#include "DeviceBenchCore/snapshot/snapshot_diff.h"
#include "tests/support/temp_dir.h"

namespace {

ParameterSnapshot Sample() {
    ParameterSnapshot snapshot;
    snapshot.model = "Corvel";
    snapshot.pn = "KR-CORVEL128-A02";
    snapshot.sn = "CV128A2411000137";
    snapshot.taken_at = "2026-12-08T06:50:00Z";
    snapshot.entries = {{"3-3", "Max Range", "200", {0x00, 0xC8}},
                        {"3-10", "Azimuth Offset", "0.75", {0x3F, 0x40, 0x00, 0x00}},
                        {"1-2", "SN", "CV128A2411000137", {0x43, 0x56}}};
    return snapshot;
}

std::string Broken(const std::string& from, const std::string& to) {
    std::string json = Sample().ToJson();
    const size_t at = json.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return json.replace(at, from.size(), to);
}

TEST(ParameterSnapshotTest, SavedFileLoadsBackEqual) {
    krell::test::TempDir dir;
    std::string error;
    ASSERT_TRUE(Sample().Save(dir.File("s.json"), error)) << error;
    ParameterSnapshot loaded;
    ASSERT_TRUE(ParameterSnapshot::Load(dir.File("s.json"), loaded, error)) << error;
    EXPECT_EQ(loaded.model, "Corvel");
    EXPECT_EQ(loaded.sn, "CV128A2411000137");
    EXPECT_EQ(loaded.taken_at, "2026-12-08T06:50:00Z");
    ASSERT_EQ(loaded.entries.size(), 3u);
    EXPECT_EQ(loaded.entries[1].name, "Azimuth Offset");
    EXPECT_EQ(loaded.entries[1].bytes, (std::vector<uint8_t>{0x3F, 0x40, 0x00, 0x00}));
    EXPECT_EQ(loaded.Find("3-3")->text, "200");
}

TEST(ParameterSnapshotTest, BrokenFilesAreRefusedWholeWithTheReason) {
    struct Case {
        std::string text;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"", "it is not JSON"},
        {"{\"variables\": [}", "it is not JSON"},
        {"[1, 2]", "it is not a parameter snapshot"},
        {Broken("devicebench-parameter-snapshot", "something-else"), "not a parameter snapshot"},
        {Broken("\"format_version\": 1", "\"format_version\": 2"), "format version is not 1"},
        {Broken("\"model\": \"Corvel\"", "\"model\": \"\""), "names no model"},
        {Broken("\"bytes\": \"00c8\"", "\"bytes\": \"00c\""), "variable 1 (Max Range) has bytes"},
        {Broken("\"bytes\": \"00c8\"", "\"bytes\": \"zz00\""), "variable 1 (Max Range) has bytes"},
        {Broken("\"name\": \"Max Range\"", "\"name\": 7"), "variable 1 has no text \"name\""},
        {Broken("\"id\": \"3-10\"", "\"id\": \"\""), "variable 2 has an empty id or name"},
        {Broken("\"variables\": [", "\"variables\": 5, \"x\": ["), "no list \"variables\""},
    };
    for (const Case& c : cases) {
        ParameterSnapshot out;
        out.model = "untouched";
        std::string error;
        EXPECT_FALSE(ParameterSnapshot::FromJson(c.text, out, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error << " / " << c.reason;
        EXPECT_EQ(out.model, "untouched");
    }
    std::string error;
    ParameterSnapshot out;
    EXPECT_FALSE(ParameterSnapshot::Load("/nonexistent/s.json", out, error));
    EXPECT_NE(error.find("cannot read /nonexistent/s.json"), std::string::npos);
}

TEST(ParameterSnapshotTest, SaveReplacesAnOldFileOnlyWhenItCanWrite) {
    krell::test::TempDir dir;
    std::string error;
    EXPECT_FALSE(Sample().Save(dir.File("missing/s.json"), error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
}

TEST(SnapshotDiffTest, BytesDecideEvenWhenTheRoundedTextsAgree) {
    const ParameterSnapshot file = Sample();
    ParameterSnapshot now = Sample();
    now.entries[1].bytes = {0x3F, 0x40, 0x00, 0x01};  // still shows "0.75"
    now.entries[0].text = "200";
    const auto changes =
        SnapshotDiff::Compare(file, now, [](const std::string& id) { return id != "1-2"; });
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].name, "Azimuth Offset");
    EXPECT_TRUE(changes[0].writable);
    EXPECT_NE(SnapshotDiff::Describe(changes[0]).find("bytes 3f400001 -> 3f400000"),
              std::string::npos);
}

TEST(SnapshotDiffTest, MissingSidesAndReadOnlyOnesAreShownButNeverWritten) {
    ParameterSnapshot file = Sample();
    ParameterSnapshot now = Sample();
    file.entries.erase(file.entries.begin());         // the file lacks Max Range
    now.entries.pop_back();                           // the sensor gave no SN
    now.entries[1].bytes = {0x40, 0x00, 0x00, 0x00};  // Azimuth Offset differs
    now.entries[1].text = "2.00";
    const auto writable = [](const std::string& id) { return id != "1-2"; };
    const auto changes = SnapshotDiff::Compare(file, now, writable);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_FALSE(changes[0].in_file);
    EXPECT_EQ(changes[1].name, "Azimuth Offset");
    EXPECT_FALSE(changes[2].on_device);
    EXPECT_FALSE(changes[2].writable);
    const auto writes = SnapshotDiff::Writable(changes);
    ASSERT_EQ(writes.size(), 1u);  // nothing the file lacks, nothing read-only
    EXPECT_EQ(writes[0].name, "Azimuth Offset");
    EXPECT_NE(SnapshotDiff::Describe(changes[0]).find("(not in the file)"), std::string::npos);
}

}  // namespace
