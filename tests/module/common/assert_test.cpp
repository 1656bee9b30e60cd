#include <gtest/gtest.h>

#include "module/common/assert/cpu_assert.h"
#include "module/common/assert/krell_exception.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

TEST(KrellException, EachKind_HasItsPrefixAndUnknownKindIsEmpty) {
    const std::pair<int32_t, const char*> expected[] = {
        {KrellException::MallocError, "[EXCEPTION] Failed to malloc memory, d"},
        {KrellException::FreeError, "[EXCEPTION] Failed to free memory, d"},
        {KrellException::AssertError, "[EXCEPTION] Failed to satisfy the assert, d"},
        {KrellException::NullPointer, "[EXCEPTION] Null Pointer error, d"},
        {KrellException::OpenFileError, "[EXCEPTION] Failed to open file, d"},
        {KrellException::NotImplemented, "[EXCEPTION] Not implemented, d"},
    };
    for (const auto& [kind, text] : expected) {
        EXPECT_STREQ(KrellException(kind, "d").what(), text);
    }
    EXPECT_STREQ(KrellException(7, "d").what(), "");
    EXPECT_STREQ(KrellException(0, "d").what(), "");
}

TEST(CPUAssert, ZeroCode_DoesNothing) {
    EXPECT_EQ(captureStdout([] { CPUAssert(0, KrellException::NullPointer, "f.cpp", 1, false); }),
              "");
}

TEST(CPUAssert, NonZeroCode_LogsThenThrowsWithFileAndLine) {
    std::string what;
    const std::string out = captureStdout([&] {
        try {
            CPUAssert(1, KrellException::NullPointer, "engine/nv_gpu_engine.cpp", 46, false);
        } catch (const KrellException& e) {
            what = e.what();
            EXPECT_EQ(e.kind(), KrellException::NullPointer);
        }
    });
    EXPECT_EQ(what, "[EXCEPTION] Null Pointer error, CPUassert: engine/nv_gpu_engine.cpp:46");
    EXPECT_EQ(out.rfind("[cpu_assert:", 0), 0U) << out;
    EXPECT_NE(out.find(" krell::det::CPUAssert] CPUassert: engine/nv_gpu_engine.cpp:46\x1b[0m\n"),
              std::string::npos)
        << out;
}

TEST(CPUAssertDeathTest, ExitInsteadOfThrow_EndsProcessWithCode) {
    EXPECT_EXIT(CPUAssert(3, KrellException::AssertError, "f.cpp", 9, true),
                testing::ExitedWithCode(3), "");
}

}  // namespace krell::det::test
