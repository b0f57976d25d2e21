#include "app/SystemUtils.h"

#include <gtest/gtest.h>

TEST(SystemUtils, BannerNamesVersionWidthAndOpenMP) {
    EXPECT_EQ(VersionBanner(), "Tarvo v2.0.7-0-g6a7a6ef 64bit OpenMP");
}
