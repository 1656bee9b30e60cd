// Runs the Lumora-Core tests inside a QCoreApplication. Before Qt starts, the process gets a
// fresh home folder (documents location and settings), a non-UTC time zone with daylight saving
// and its own scribe log file.
#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

int main(int argc, char** argv) {
    // A death-test child re-runs this program: it keeps the home folder of its parent.
    const char* inherited = std::getenv("LUMORA_TEST_HOME");
    const bool owns_home = inherited == nullptr;
    std::string home_template = ::testing::TempDir() + "lumora_core_test_XXXXXX";
    const char* home = owns_home ? ::mkdtemp(&home_template[0]) : inherited;
    if (home == nullptr) return 2;
    const std::string home_dir = home;
    ::setenv("LUMORA_TEST_HOME", home, 1);
    ::setenv("HOME", home, 1);
    ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    ::setenv("SCRIBE_LOG_FILE", (std::string(home) + "/scribe.log").c_str(), 1);
    ::setenv("SCRIBE_CONSOLE", "0", 1);
    ::setenv("SCRIBE_LEVEL", "debug", 1);

    // Worker-count scenarios need a process whose executor does not exist yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::InitGoogleTest(&argc, argv);
    int result = 0;
    {
        QCoreApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (owns_home) QDir(QString::fromStdString(home_dir)).removeRecursively();
    return result;
}
