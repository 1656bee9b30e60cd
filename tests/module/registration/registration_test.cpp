// Self-registration in a program that links the static libraries: this file names the classes
// only by their registered names, so nothing here pulls their object files in. A plain static
// link drops them and every lookup below fails.
#include <gtest/gtest.h>

#include "module/common/data_structure/modal_factory.h"
#include "module/engine/engine_factory.h"
#include "module/runner/runner_factory.h"

namespace krell::det::test {

TEST(SelfRegistration, ClassesOfTheStaticLibraries_AreRegisteredAtProgramStart) {
    EXPECT_TRUE(ModalFactory::instance().contains("OrderedPointCloud"));
    EXPECT_TRUE(ModalFactory::instance().contains("QuantedPointCloud"));
    EXPECT_TRUE(ModalFactory::instance().contains("UnorderedPointCloud"));
    EXPECT_TRUE(EngineFactory::instance().contains("NvGPUEngine"));
    EXPECT_TRUE(RunnerFactory::instance().contains("QuantedRimgRunner"));
}

}  // namespace krell::det::test
