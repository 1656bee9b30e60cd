// devicebench-cli snapshot, diff and apply, to one sensor and to a rig of eight.
#include <gtest/gtest.h>

#include <QJsonArray>

#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/temp_dir.h"
#include "tests/tools/devicebench-cli/cli_fixture.h"
#include "tools/lidar-sim/sim_faults.h"

namespace krell {
namespace test {
namespace {

//! Values that differ from the simulator's defaults on four pages, one of them shown rounded.
const std::vector<std::string> kEdits = {"set", "Max Range=123", "Noise Filter Level=9",
                                         "Azimuth Offset=1.3333", "PTP Domain=42"};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Spit(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class CliSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(source_.Ok());
        ASSERT_EQ(RunCliNow(At(source_, kEdits)).code, 0);
        const CliRun run = RunCliNow(At(source_, {"snapshot", "--out", File()}));
        ASSERT_EQ(run.code, 0) << run.err;
    }
    std::string File() const { return dir_.File("source.json"); }
    //! The writable differences `sim` still has against the source's snapshot.
    QJsonArray WritableDiff(TableSim& sim) {
        const CliRun diff = RunCliNow(At(sim, {"diff", File(), "--json"}));
        EXPECT_EQ(diff.code, 0) << diff.err;
        QJsonArray writable;
        for (const QJsonValue& change : diff.Json().value("differences").toArray())
            if (change.toObject().value("writable").toBool()) writable.append(change);
        return writable;
    }

    TempDir dir_;
    TableSim source_{"Corvel"};
};

TEST_F(CliSnapshotTest, SnapshotFileHoldsModelIdentityAndEveryReadableVariable) {
    const QJsonObject file =
        QJsonDocument::fromJson(QByteArray::fromStdString(Slurp(File()))).object();
    EXPECT_EQ(file.value("model").toString(), "Corvel");
    EXPECT_EQ(file.value("sn").toString(), "CV128A2411000137");
    EXPECT_EQ(file.value("pn").toString(), "KR-CORVEL128-A02");
    EXPECT_FALSE(file.value("taken_at").toString().isEmpty());
    const QJsonArray vars = file.value("variables").toArray();
    EXPECT_EQ(vars.size(), 53);  // Corvel's readable rows without the four logs
    bool found = false;
    for (const QJsonValue& var : vars) {
        if (var.toObject().value("name").toString() != "Max Range") continue;
        found = true;
        EXPECT_EQ(var.toObject().value("text").toString(), "123");
        EXPECT_EQ(var.toObject().value("bytes").toString(), "007b");
    }
    EXPECT_TRUE(found);
}

TEST_F(CliSnapshotTest, AppliedToAnotherSensorBothReadTheSame) {
    TableSim target("Corvel");
    EXPECT_EQ(WritableDiff(target).size(), 4);
    const CliRun apply = RunCliNow(At(target, {"apply", File()}));
    ASSERT_EQ(apply.code, 0) << apply.err << apply.out;
    EXPECT_NE(apply.out.find("Max Range: 200 -> 123"), std::string::npos) << apply.out;
    EXPECT_NE(apply.out.find("applied"), std::string::npos);
    EXPECT_EQ(WritableDiff(target).size(), 0);
    // The rounded text was not what travelled: the exact bytes did.
    const CliRun a = RunCliNow(At(source_, {"get", "Azimuth Offset", "--json"}));
    const CliRun b = RunCliNow(At(target, {"get", "Azimuth Offset", "--json"}));
    EXPECT_EQ(a.Json()["values"].toArray()[0].toObject()["bytes"],
              b.Json()["values"].toArray()[0].toObject()["bytes"]);
    // A second apply finds nothing to write.
    const size_t before = CountOf(target.Commands(), SetCodes("Corvel"));
    const CliRun again = RunCliNow(At(target, {"apply", File()}));
    EXPECT_EQ(again.code, 0);
    EXPECT_NE(again.out.find("unchanged"), std::string::npos);
    EXPECT_EQ(CountOf(target.Commands(), SetCodes("Corvel")), before);
}

TEST_F(CliSnapshotTest, TheSensorsAddressIsKeptUnlessAsked) {
    ASSERT_EQ(RunCliNow(At(source_, {"set", "Lidar IP=10.1.2.3"})).code, 0);
    ASSERT_EQ(RunCliNow(At(source_, {"snapshot", "--out", File()})).code, 0);
    TableSim target("Corvel");
    const CliRun kept = RunCliNow(At(target, {"apply", File()}));
    EXPECT_EQ(kept.code, 0) << kept.err;
    EXPECT_NE(kept.out.find("kept Lidar IP"), std::string::npos) << kept.out;
    const CliRun ip = RunCliNow(At(target, {"get", "Lidar IP"}));
    EXPECT_NE(ip.out.find("192.168.1.201"), std::string::npos);
    EXPECT_EQ(RunCliNow(At(target, {"apply", File(), "--with-address"})).code, 0);
    EXPECT_NE(RunCliNow(At(target, {"get", "Lidar IP"})).out.find("10.1.2.3"), std::string::npos);
}

TEST_F(CliSnapshotTest, DryRunShowsTheDiffAndWritesNothing) {
    TableSim target("Corvel");
    const CliRun run = RunCliNow(At(target, {"apply", File(), "--dry-run", "--json"}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.Json().value("outcome").toString(), "would change");
    EXPECT_GE(run.Json().value("differences").toArray().size(), 4);
    EXPECT_EQ(CountOf(target.Commands(), SetCodes("Corvel")), 0u);
}

TEST_F(CliSnapshotTest, UnusableOrForeignFilesNeverReachTheSensor) {
    TableSim target("Corvel");
    const std::string json = Slurp(File());
    struct Case {
        std::string text;
        std::vector<std::string> extra;
        std::string message;
    };
    std::string tovin = json;
    tovin.replace(tovin.find("\"Corvel\""), 8, "\"Tovin\"");
    std::string broken = json.substr(0, json.size() / 2);
    const std::vector<Case> cases = {
        {broken, {}, "is not a usable snapshot: it is not JSON"},
        {"{\"model\": \"Corvel\"}", {}, "it is not a parameter snapshot"},
        {tovin, {}, "is a snapshot of a Tovin, not of a Corvel"},
        {json, {"--model", "Tovin"}, "is a snapshot of a Corvel, not of a Tovin"},
    };
    for (const Case& c : cases) {
        Spit(dir_.File("bad.json"), c.text);
        for (const char* verb : {"apply", "diff"}) {
            std::vector<std::string> args = At(target, {verb, dir_.File("bad.json")});
            args.insert(args.end(), c.extra.begin(), c.extra.end());
            const CliRun run = RunCliNow(args);
            EXPECT_EQ(run.code, 1) << verb << " " << c.message;
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        }
    }
    EXPECT_TRUE(target.Commands().empty());
    EXPECT_EQ(RunCliNow(At(target, {"apply", dir_.File("none.json")})).code, 1);
}

TEST_F(CliSnapshotTest, OutOfRangeValueInTheFileNeedsForce) {
    std::string json = Slurp(File());
    json.replace(json.find("\"007b\""), 6, "\"0190\"");  // Max Range 400
    json.replace(json.find("\"text\": \"123\""), 13, "\"text\": \"400\"");
    Spit(File(), json);
    TableSim target("Corvel");
    const CliRun refused = RunCliNow(At(target, {"apply", File()}));
    EXPECT_EQ(refused.code, 1) << refused.out;
    EXPECT_NE(refused.err.find("range check refuses Max Range"), std::string::npos) << refused.err;
    EXPECT_EQ(CountOf(target.Commands(), SetCodes("Corvel")), 0u);
    EXPECT_EQ(RunCliNow(At(target, {"apply", File(), "--force"})).code, 0);
    EXPECT_NE(RunCliNow(At(target, {"get", "Max Range"})).out.find("400"), std::string::npos);
}

TEST_F(CliSnapshotTest, FaultAfterTwoCommandsIsExitFourWithTheExactList) {
    TableSim target("Corvel");
    RefuseSetsAfter(target, "Corvel", 2);
    const CliRun run = RunCliNow(At(target, {"apply", File(), "--json"}));
    EXPECT_EQ(run.code, 4) << run.err << run.out;
    const QJsonObject report = run.Json();
    EXPECT_EQ(report.value("outcome").toString(), "partial");
    EXPECT_EQ(report.value("written").toArray(),
              (QJsonArray{"[0x2D] Max Range", "[0x2E] Noise Filter Level"}));
    EXPECT_EQ(report.value("failed").toString(), "[0x2C] Azimuth Offset");
    EXPECT_EQ(report.value("not_sent").toArray(), QJsonArray{"[0x2B] PTP Domain"});
    // The sensor holds exactly what the report says.
    const CliRun get = RunCliNow(At(target, {"get", "Max Range", "PTP Domain"}));
    EXPECT_NE(get.out.find("Max Range = 123"), std::string::npos) << get.out;
    EXPECT_NE(get.out.find("PTP Domain = 0"), std::string::npos) << get.out;
}

TEST_F(CliSnapshotTest, EightSensorsInParallelOneSilentOnePartialEachSaysWhatItGot) {
    std::vector<std::unique_ptr<TableSim>> rig;
    std::string sensors;
    for (int i = 0; i < 8; ++i) {
        rig.push_back(std::make_unique<TableSim>("Corvel"));
        ASSERT_TRUE(rig.back()->Ok());
        sensors += (i ? "," : "") + std::string("127.0.0.1:") + std::to_string(rig.back()->Port());
    }
    lidar::sim::SimFaults silent;
    silent.no_reply = true;
    rig[3]->Server().SetFaults(silent);
    RefuseSetsAfter(*rig[5], "Corvel", 1);
    std::vector<std::string> args =
        At(*rig[0], {"apply", File(), "--sensors", sensors, "--jobs", "8", "--json"});
    const CliRun run = RunCliNow(args);
    EXPECT_EQ(run.code, 4) << run.err << run.out;
    const QJsonArray lines = run.Json().value("sensors").toArray();
    ASSERT_EQ(lines.size(), 8);
    for (int i = 0; i < 8; ++i) {
        const QJsonObject line = lines[i].toObject();
        EXPECT_EQ(line.value("sensor").toString().toStdString(),
                  "127.0.0.1:" + std::to_string(rig[static_cast<size_t>(i)]->Port()));
        const std::string outcome = line.value("outcome").toString().toStdString();
        if (i == 3) {
            EXPECT_EQ(outcome, "unreachable");
            EXPECT_NE(line.value("message").toString().indexOf("Lidar has No CMX reply"), -1);
        } else if (i == 5) {
            EXPECT_EQ(outcome, "partial");
            EXPECT_EQ(line.value("written").toArray(), QJsonArray{"[0x2D] Max Range"});
            EXPECT_EQ(line.value("not_sent").toArray().size(), 2);
        } else {
            EXPECT_EQ(outcome, "applied") << i;
            EXPECT_EQ(line.value("written").toArray().size(), 4) << i;
        }
    }
    rig[3]->Server().SetFaults(lidar::sim::SimFaults());
    EXPECT_EQ(WritableDiff(*rig[7]).size(), 0);
}

TEST_F(CliSnapshotTest, ParallelApplyPrintsOneLinePerSensor) {
    TableSim a("Corvel");
    TableSim b("Corvel");
    ASSERT_EQ(RunCliNow(At(b, {"apply", File()})).code, 0);
    const std::string sensors =
        "127.0.0.1:" + std::to_string(a.Port()) + ",127.0.0.1:" + std::to_string(b.Port());
    const CliRun run = RunCliNow(At(a, {"apply", File(), "--sensors", sensors}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("127.0.0.1:" + std::to_string(a.Port()) + "  applied: [0x2D] Max Range"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("127.0.0.1:" + std::to_string(b.Port()) + "  unchanged"),
              std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace test
}  // namespace krell
