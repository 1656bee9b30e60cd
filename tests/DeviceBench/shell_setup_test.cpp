#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include "DeviceBench/install_root.h"
#include "DeviceBench/scale_factor.h"
#include "DeviceBench/shell_setup.h"
#include "tests/support/temp_dir.h"

namespace {

QString ScaleText(double scale) { return QString::fromLatin1(QByteArray::number(scale, 'g', 6)); }

TEST(ScaleFactor, DenseScreen_ScalesByEightyPercentOfTheRatio) {
    const ScaleFactor result = ComputeScaleFactor(QSize(2560, 1440), QSize(3840, 2160));
    EXPECT_DOUBLE_EQ(result.ratio, 1.5);
    EXPECT_EQ(ScaleText(result.scale), "1.2");
}

TEST(ScaleFactor, WideUnscaledScreen_ScalesWithItsWidth) {
    const ScaleFactor result = ComputeScaleFactor(QSize(2560, 1440), QSize(2560, 1440));
    EXPECT_DOUBLE_EQ(result.ratio, 1.0);
    EXPECT_EQ(ScaleText(result.scale), "1.33333");
}

TEST(ScaleFactor, SmallOrBorderlineScreens_NeverScaleBelowOne) {
    EXPECT_DOUBLE_EQ(ComputeScaleFactor(QSize(1366, 768), QSize(1366, 768)).scale, 1.0);
    EXPECT_DOUBLE_EQ(ComputeScaleFactor(QSize(1920, 1080), QSize(1920, 1080)).scale, 1.0);
    // A ratio of exactly 1.25 is not dense: the width rule applies.
    const ScaleFactor border = ComputeScaleFactor(QSize(1536, 864), QSize(1920, 1080));
    EXPECT_DOUBLE_EQ(border.ratio, 1.25);
    EXPECT_DOUBLE_EQ(border.scale, 1.0);
    // The taller axis decides the ratio.
    EXPECT_DOUBLE_EQ(ComputeScaleFactor(QSize(1000, 1000), QSize(1000, 2000)).ratio, 2.0);
}

TEST(ScaleFactor, EmptyScreen_GivesNoScaling) {
    const ScaleFactor result = ComputeScaleFactor(QSize(0, 0), QSize(3840, 2160));
    EXPECT_DOUBLE_EQ(result.ratio, 1.0);
    EXPECT_DOUBLE_EQ(result.scale, 1.0);
}

void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TEST(InstallRoot, MarkerBesideTheBinaryFolder_MakesTheParentTheRoot) {
    krell::test::TempDir dir;
    const QString root = QString::fromStdString(dir.Path());
    Touch(root + "/fonts/Roboto-Regular-14.ttf");
    QDir().mkpath(root + "/bin");
    const InstallRoot found = FindInstallRoot(root + "/bin");
    EXPECT_TRUE(found.found);
    EXPECT_EQ(found.path, QFileInfo(root).canonicalFilePath());
}

TEST(InstallRoot, MarkerOnlyInTheBinaryFolder_MakesThatFolderTheRoot) {
    krell::test::TempDir dir;
    const QString app = QString::fromStdString(dir.Path()) + "/app";
    Touch(app + "/fonts/Roboto-Regular-14.ttf");
    const InstallRoot found = FindInstallRoot(app);
    EXPECT_TRUE(found.found);
    EXPECT_EQ(QFileInfo(found.path).canonicalFilePath(), QFileInfo(app).canonicalFilePath());
}

TEST(InstallRoot, NoMarker_FallsBackToTheParentAndSaysSo) {
    krell::test::TempDir dir;
    const QString root = QString::fromStdString(dir.Path());
    QDir().mkpath(root + "/bin");
    const InstallRoot found = FindInstallRoot(root + "/bin");
    EXPECT_FALSE(found.found);
    EXPECT_EQ(found.path, QFileInfo(root).canonicalFilePath());
}

TEST(ModuleArgument, FirstMatchingArgumentWins_CaseSensitive) {
    EXPECT_EQ(ModuleNameFromArguments({"DeviceBench", "-x", "-moduleLM=Tovin", "-moduleLM=Corvel"}),
              "Tovin");
    EXPECT_EQ(ModuleNameFromArguments({"DeviceBench", "-modulelm=Tovin"}), "");
    EXPECT_EQ(ModuleNameFromArguments({"-moduleLM=Tovin"}), "") << "the program name is skipped";
    EXPECT_EQ(ModuleNameFromArguments({"DeviceBench", "-moduleLM="}), "");
}

TEST(Palette, EveryGroupCarriesTheDarkColours) {
    const QPalette palette = DeviceBenchPalette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        EXPECT_EQ(palette.color(group, QPalette::Window), QColor("#2B2C2E"));
        EXPECT_EQ(palette.color(group, QPalette::Mid), QColor("#2B2C2E"));
        EXPECT_EQ(palette.color(group, QPalette::Base), QColor(1, 1, 1));
        EXPECT_EQ(palette.color(group, QPalette::Button), QColor("#3A3D3F"));
        EXPECT_EQ(palette.color(group, QPalette::PlaceholderText), QColor("#EEEEEE"));
        EXPECT_EQ(palette.color(group, QPalette::Highlight), QColor("#999999"));
    }
}

}  // namespace
