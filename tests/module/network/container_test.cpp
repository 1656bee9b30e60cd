#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "module/common/util.h"
#include "module/network/engine_parser.h"
#include "module/network/nvidia/network_parser.h"
#include "tests/module/network/container_files.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

const std::string kDescription = R"([{"name":"rimg","layers":[]},{"name":"post","layers":[]}])";
const std::string kScales = R"({"noise_rimg_preds":0.25,"x":2})";

//! A 0.0.2 network file: header, description, 6 weight bytes, scale table, 3 more tail bytes.
std::string networkV0_0_2(const std::string& version, const std::string& extraHeader = "") {
    const std::string header =
        R"({"vorx_version":")" + version + R"(","trt_model":{"config_length":)" +
        std::to_string(kDescription.size()) + R"(,"weight_length":6,"scale_length":)" +
        std::to_string(kScales.size()) + "}" + extraHeader + "}";
    return containerBytes(header,
                          {stringEncrypt(kDescription), "WWWWWW", stringEncrypt(kScales), "abc"});
}

std::string networkV0_0_4(const std::string& engines) {
    const std::string header =
        R"({"vorx_deploy_version":"v0.0.4","tensorRT_net":{"structure_length":)" +
        std::to_string(kDescription.size()) + R"(,"weight_length":2},"engine":)" + engines +
        R"(,"extra":{"kept":true}})";
    return containerBytes(header, {stringEncrypt(kDescription), "ww"});
}

//! The engine file's header text, checked to sit exactly behind its stored length.
std::string storedHeader(const std::string& file) {
    const auto length = static_cast<uint32_t>(static_cast<uint8_t>(file[0])) |
                        (static_cast<uint32_t>(static_cast<uint8_t>(file[1])) << 8) |
                        (static_cast<uint32_t>(static_cast<uint8_t>(file[2])) << 16) |
                        (static_cast<uint32_t>(static_cast<uint8_t>(file[3])) << 24);
    EXPECT_LE(4U + length, file.size());
    return stringDecrypt(file.substr(4, length));
}

}  // namespace

TEST(NetworkParser, V0_0_2_RoundTrip_WritesCompactSortedHeaderEnginesAndTail) {
    TempDir dir;
    writeAll(dir.file("net"), networkV0_0_2("0.0.2", R"(,"spconv_net_byte_length":{"b":7,"a":5})"));
    NetworkParser parser(dir.file("net"), dir.file("engine"));
    ASSERT_TRUE(parser.parse());
    EXPECT_EQ(parser.getVersion(), "0.0.2");
    EXPECT_EQ(parser.getNetworkConfig(), nlohmann::json::parse(kDescription));
    ASSERT_EQ(parser.getWeightsSize(), 6U);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(parser.getWeights()), 6), "WWWWWW");
    ASSERT_NE(parser.getTail(), nullptr);
    EXPECT_EQ(parser.getTail()->size(), kScales.size() + 3);

    HostBlob first("ENGINE-1");
    HostBlob second("E2");
    ASSERT_TRUE(parser.write({&first, &second}));
    const std::string file = readAll(dir.file("engine"));
    const std::string header = storedHeader(file);
    EXPECT_EQ(header,
              R"({"spconv_model":{"engines":[{"length":5,"name":"a"},{"length":7,"name":"b"}]},)"
              R"("trt_model":{"engines":[{"length":8,"name":"rimg"},{"length":2,"name":"post"}],)"
              R"("scale_length":)" +
                  std::to_string(kScales.size()) + R"(},"vorx_version":"0.0.2"})");
    EXPECT_EQ(file.substr(0, 4), lengthBytes(static_cast<uint32_t>(header.size())));
    EXPECT_EQ(file.substr(4, header.size()), stringEncrypt(header));
    EXPECT_EQ(file.substr(4 + header.size()), "ENGINE-1E2" + stringEncrypt(kScales) + "abc");

    EngineParser engines(dir.file("engine"));
    ASSERT_TRUE(engines.parse());
    ASSERT_EQ(engines.getEngines().size(), 2U);
    const auto& rimg = engines.getEngine("rimg");
    EXPECT_EQ(std::string(static_cast<const char*>(rimg->data()), rimg->size()), "ENGINE-1");
    EXPECT_EQ(engines.getEngine("post")->size(), 2U);
    EXPECT_FLOAT_EQ(engines.getScales().at("noise_rimg_preds"), 0.25F);
    EXPECT_FLOAT_EQ(engines.getScales().at("x"), 2.0F);
}

TEST(NetworkParser, NoEnginesAndNoSpconv_WriteNullEntriesAndReadAsNone) {
    TempDir dir;
    writeAll(dir.file("net"), networkV0_0_2("0.0.3"));
    NetworkParser parser(dir.file("net"), dir.file("engine"));
    ASSERT_TRUE(parser.parse());
    ASSERT_TRUE(parser.write({}));
    const auto header = nlohmann::json::parse(storedHeader(readAll(dir.file("engine"))));
    EXPECT_TRUE(header["trt_model"]["engines"].is_null());
    EXPECT_TRUE(header["spconv_model"]["engines"].is_null());
    EngineParser engines(dir.file("engine"));
    ASSERT_TRUE(engines.parse());
    EXPECT_TRUE(engines.getEngines().empty());
    EXPECT_EQ(engines.getScales().size(), 2U);
}

TEST(NetworkParser, V0_0_4_RoundTrip_CopiesHeaderSetsLengthsAndKeepsFirstScale) {
    TempDir dir;
    writeAll(dir.file("net"),
             networkV0_0_4(R"([{"name":"rimg","length":999,"output_scale":{"y":1.5,"z":3}}])"));
    NetworkParser parser(dir.file("net"), dir.file("engine"));
    ASSERT_TRUE(parser.parse());
    EXPECT_EQ(parser.getVersion(), "v0.0.4");
    EXPECT_EQ(parser.getTail()->size(), 0U);  // the file ends right after the weights

    HostBlob first("AAAA");
    HostBlob second("BB");
    ASSERT_TRUE(parser.write({&first, &second}));
    const std::string file = readAll(dir.file("engine"));
    const std::string header = storedHeader(file);
    EXPECT_EQ(header, R"({"engine":[{"length":4,"name":"rimg","output_scale":{"y":1.5,"z":3}},)"
                      R"({"length":2}],"extra":{"kept":true},"tensorRT_net":{},)"
                      R"("vorx_deploy_version":"v0.0.4"})");
    EXPECT_EQ(file.substr(4 + header.size()), "AAAABB");  // no tail bytes

    // Two engines naming one tensor: the first engine's scale stays.
    writeAll(dir.file("engine"),
             containerBytes(R"({"vorx_version":"v0.0.4","engine":[)"
                            R"({"name":"a","length":1,"output_scale":{"t":1.0}},)"
                            R"({"name":"b","length":2,"output_scale":{"t":9.0,"u":4}}]})",
                            {"xyy"}));
    EngineParser engines(dir.file("engine"));
    ASSERT_TRUE(engines.parse());
    EXPECT_FLOAT_EQ(engines.getScales().at("t"), 1.0F);
    EXPECT_FLOAT_EQ(engines.getScales().at("u"), 4.0F);
    EXPECT_EQ(std::string(static_cast<const char*>(engines.getEngine("b")->data()), 2), "yy");
}

TEST(NetworkParser, Versions_VorxVersionWinsAndOnlyExactStringsAreKnown) {
    TempDir dir;
    writeAll(dir.file("net"), networkV0_0_2("0.0.2", R"(,"vorx_deploy_version":"v0.0.4")"));
    NetworkParser both(dir.file("net"), dir.file("engine"));
    EXPECT_TRUE(both.parse());
    EXPECT_EQ(both.getVersion(), "0.0.2");

    for (const std::string version : {"0.0.4", "v0.0.2", "v0.0.3", ""}) {
        writeAll(dir.file("net"), networkV0_0_2(version));
        NetworkParser parser(dir.file("net"), dir.file("engine"));
        const std::string log = captureStdout([&] { EXPECT_FALSE(parser.parse()); });
        EXPECT_NE(log.find("[INIT][NetworkParser] Unknown vorx deploy version of " + version),
                  std::string::npos)
            << log;
        EXPECT_TRUE(parser.getNetworkConfig().is_null());
        EXPECT_FALSE(parser.write({}));
    }
}

TEST(NetworkParser, LengthsPastTheEnd_AreRefusedWithLengthAndOffset) {
    TempDir dir;
    const std::string whole = networkV0_0_2("0.0.2");
    const uint32_t headerLength = static_cast<uint8_t>(whole[0]);
    struct Case {
        std::string bytes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {whole.substr(0, 3),
         "header length of 4 bytes at offset 0 runs past the end of the file "
         "(3 bytes)"},
        {whole.substr(0, 10), "header of " + std::to_string(headerLength) +
                                  " bytes at offset 4 runs past the end of the file (10 bytes)"},
        {whole.substr(0, 4 + headerLength + 5),
         "network description of " + std::to_string(kDescription.size()) + " bytes at offset " +
             std::to_string(4 + headerLength) + " runs past the end"},
        {whole.substr(0, 4 + headerLength + kDescription.size() + 2),
         "weights of 6 bytes at offset " + std::to_string(4 + headerLength + kDescription.size()) +
             " runs past the end"},
    };
    for (const auto& c : cases) {
        writeAll(dir.file("net"), c.bytes);
        NetworkParser parser(dir.file("net"), dir.file("engine"));
        const std::string log = captureStdout([&] { EXPECT_FALSE(parser.parse()); });
        EXPECT_NE(log.find(c.message), std::string::npos) << log;
        EXPECT_EQ(parser.getWeights(), nullptr);
        EXPECT_EQ(parser.getTail(), nullptr);
    }

    // A forged weight length far beyond the file is refused before anything is allocated.
    writeAll(dir.file("net"),
             containerBytes(R"({"vorx_version":"0.0.2","trt_model":{"config_length":2,)"
                            R"("weight_length":4000000000,"scale_length":0}})",
                            {stringEncrypt("[]"), "w"}));
    NetworkParser forged(dir.file("net"), dir.file("engine"));
    const std::string log = captureStdout([&] { EXPECT_FALSE(forged.parse()); });
    EXPECT_NE(log.find("weight_length of 4000000000 bytes exceeds the 2 GiB container limit"),
              std::string::npos)
        << log;
    writeAll(dir.file("net"),
             containerBytes(R"({"vorx_version":"0.0.2","trt_model":{"config_length":-2,)"
                            R"("weight_length":1,"scale_length":0}})",
                            {}));
    NetworkParser negative(dir.file("net"), dir.file("engine"));
    EXPECT_NE(captureStdout([&] { EXPECT_FALSE(negative.parse()); }).find("is negative (-2)"),
              std::string::npos);
}

TEST(NetworkParser, MissingFileBadJsonAndUnbuiltEngine_LeaveNothingBehind) {
    TempDir dir;
    NetworkParser missing(dir.file("none"), dir.file("engine"));
    EXPECT_EQ(
        messageOf(captureStdout([&] { EXPECT_FALSE(missing.parse()); })),
        "[INIT][NetworkParser] Can not open network file in " + dir.file("none") + "\x1b[0m\n");

    writeAll(dir.file("net"), containerBytes("{not json", {}));
    NetworkParser broken(dir.file("net"), dir.file("engine"));
    const std::string log =
        captureStdout([&] { EXPECT_THROW(broken.parse(), nlohmann::json::parse_error); });
    EXPECT_NE(log.find("header of 9 bytes at offset 4 is not valid JSON"), std::string::npos);

    writeAll(dir.file("net"), networkV0_0_2("0.0.2"));
    writeAll(dir.file("engine"), "previous engine file");
    NetworkParser parser(dir.file("net"), dir.file("engine"));
    ASSERT_TRUE(parser.parse());
    HostBlob built("x");
    EXPECT_NE(captureStdout([&] {
                  EXPECT_FALSE(parser.write({&built, nullptr}));
              }).find("engine 1 was not built"),
              std::string::npos);
    HostBlob third("z");
    EXPECT_NE(captureStdout([&] {
                  EXPECT_FALSE(parser.write({&built, &built, &third}));
              }).find("holds 2 networks for 3 engines"),
              std::string::npos);
    EXPECT_EQ(readAll(dir.file("engine")), "previous engine file");
}

TEST(EngineParser, CorruptEngineFiles_AreRefusedAndHoldNothing) {
    TempDir dir;
    const std::string path = dir.file("engine");
    // Second engine runs past the end: neither engine is kept.
    writeAll(path,
             containerBytes(R"({"vorx_version":"0.0.2","trt_model":{"scale_length":0,)"
                            R"("engines":[{"name":"a","length":2},{"name":"b","length":50}]}})",
                            {"aabb"}));
    EngineParser truncated(path);
    std::string log = captureStdout([&] { EXPECT_FALSE(truncated.parse()); });
    EXPECT_NE(log.find("engine b of 50 bytes at offset"), std::string::npos) << log;
    EXPECT_TRUE(truncated.getEngines().empty());
    EXPECT_EQ(messageOf(captureStdout(
                  [&] { EXPECT_THROW(truncated.getEngine("a"), std::out_of_range); })),
              "[INIT][EngineParser] can not find engine with name a\x1b[0m\n");

    // A scale table the header promises but the file lacks.
    writeAll(path, containerBytes(R"({"vorx_version":"0.0.3","trt_model":{"scale_length":40,)"
                                  R"("engines":[{"name":"a","length":2.9}]}})",
                                  {"aa{}"}));
    EngineParser noScales(path);
    log = captureStdout([&] { EXPECT_FALSE(noScales.parse()); });
    EXPECT_NE(log.find("scale table of 40 bytes at offset"), std::string::npos) << log;

    // A length of the wrong JSON type raises the library's type error.
    writeAll(path, containerBytes(R"({"vorx_version":"v0.0.4","engine":[)"
                                  R"({"name":"a","length":"2","output_scale":{}}]})",
                                  {"aa"}));
    EngineParser badType(path);
    EXPECT_THROW(captureStdout([&] { badType.parse(); }), nlohmann::json::type_error);

    // A floating length is truncated; a scale length below one byte means no table.
    writeAll(path, containerBytes(R"({"vorx_version":"0.0.2","trt_model":{"scale_length":0,)"
                                  R"("engines":[{"name":"a","length":2.9}]}})",
                                  {"aa"}));
    EngineParser floating(path);
    ASSERT_TRUE(floating.parse());
    EXPECT_EQ(floating.getEngine("a")->size(), 2U);
    EXPECT_TRUE(floating.getScales().empty());
}

TEST(Containers, TwoGiBOrMore_AreRefusedBeforeAnyRead) {
    TempDir dir;
    writeAll(dir.file("big"), networkV0_0_2("0.0.2"));
    std::filesystem::resize_file(dir.file("big"), 0x80000000ULL);  // sparse: no disk used
    NetworkParser network(dir.file("big"), dir.file("engine"));
    std::string log = captureStdout([&] { EXPECT_FALSE(network.parse()); });
    EXPECT_NE(log.find("holds 2147483648 bytes; containers of 2 GiB or more are not supported"),
              std::string::npos)
        << log;
    EXPECT_TRUE(network.getHeader().is_null());
    EngineParser engines(dir.file("big"));
    log = captureStdout([&] { EXPECT_FALSE(engines.parse()); });
    EXPECT_NE(log.find("[INIT][EngineParser] "), std::string::npos) << log;
    EXPECT_NE(log.find("containers of 2 GiB or more"), std::string::npos) << log;
}

}  // namespace krell::det::test
