// The application object before its start-up: what it declares, and what only the start-up sets.
#include "ui/MorlaneApp.h"

#include <gtest/gtest.h>

TEST(MorlaneApp, DeclaresItsRestartSupportAndIdAndLeavesTheRestToItsStartUp) {
  CMorlaneApp app;
  EXPECT_EQ(app.GetRestartManagerSupport(), 0x3Fu);
  EXPECT_EQ(app.GetAppId(), L"Morlane.AppID.NoVersion");
  // Not yet started: the task bar keeps its default and no settings key is named.
  EXPECT_TRUE(app.GetTaskbarInteraction());
  EXPECT_TRUE(app.GetRegistryKey().empty());
}
