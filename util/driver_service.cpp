#include "util/driver_service.h"

#include "util/handles.h"

using kv::UniqueService;

int LoadDrv(LPCWSTR name, LPCWSTR path) {
  UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 0;
  UniqueService service(::CreateServiceW(
      manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
      SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    if (::GetLastError() != ERROR_SERVICE_EXISTS) return 0;
    service.reset(::OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return 0;
  }
  if (::StartServiceW(service.get(), 0, nullptr)) return 1;
  return ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? 1 : 0;
}

int UnLoadDrv(LPCWSTR name) {
  UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 0;
  UniqueService service(::OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
  if (!service) return 0;
  SERVICE_STATUS status = {};
  ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  ::DeleteService(service.get());
  return 1;
}
