#pragma once
// Kernel-driver services: installed on demand, started, stopped and deleted by name.
#include <windows.h>

#include "util/kv_api.h"

KV_API int LoadDrv(LPCWSTR name, LPCWSTR path);
KV_API int UnLoadDrv(LPCWSTR name);
