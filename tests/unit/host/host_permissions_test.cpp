#include "host/host_permissions.h"

#include "core/log.h"
#include "platform/fake/fake_permissions.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

TEST(HostPermissions, NoDisplayStopsCaptureWithItsStatusLine)
{
    platform::fake::FakePermissions permissions;
    permissions.screen = false;
    permissions.input = false;
    std::vector<std::string> status;
    log::Capture logs;
    EXPECT_FALSE(checkHostPermissions(permissions, true, [&](const std::string& line) { status.push_back(line); }));
    EXPECT_EQ(status, std::vector<std::string>{std::string(noScreenCaptureStatus)});
    EXPECT_TRUE(logs.contains("Tavoro host: 缺屏幕录制权限"));
}

TEST(HostPermissions, MissingXtestWarnsOnlyWhenInputIsInjected)
{
    platform::fake::FakePermissions permissions;
    permissions.input = false;
    std::vector<std::string> status;
    const auto record = [&](const std::string& line) { status.push_back(line); };
    EXPECT_TRUE(checkHostPermissions(permissions, false, record));
    EXPECT_TRUE(status.empty());
    EXPECT_TRUE(checkHostPermissions(permissions, true, record));
    EXPECT_EQ(status, std::vector<std::string>{std::string(noInputInjectionStatus)});
    permissions.input = true;
    EXPECT_TRUE(checkHostPermissions(permissions, true, record));
    EXPECT_EQ(status.size(), 1u);
}

} // namespace
} // namespace tavoro::host
