// Kernel-driver services: the service is made as asked, and deleted again.
#include "util/driver_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/handles.h"

namespace {

TEST(DriverService, CreatedAsDemandStartKernelDriverThenDeleted) {
  const std::wstring name = L"kvtestdrv" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring path = L"C:\\kvtest\\no_such_driver.sys";
  EXPECT_EQ(0, UnLoadDrv(L"kvtest_never_installed"));
  EXPECT_EQ(0, LoadDrv(name.c_str(), path.c_str()));  // nothing can start a driver file that is not there
  {
    kv::UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    kv::UniqueService service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service) << "the service stays registered";
    DWORD size = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(::QueryServiceConfigW(service.get(), config, size, &size));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    EXPECT_NE(nullptr, std::wcsstr(config->lpBinaryPathName, L"no_such_driver.sys"));
    EXPECT_STREQ(name.c_str(), config->lpDisplayName);
  }
  // A second load takes the existing service and fails only at the start.
  EXPECT_EQ(0, LoadDrv(name.c_str(), path.c_str()));
  std::printf("SKIPPED: no driver can be started here, so LoadDrv's success is not checked\n");
  EXPECT_EQ(1, UnLoadDrv(name.c_str()));
  EXPECT_EQ(0, UnLoadDrv(name.c_str())) << "the service is gone";
}

}  // namespace
