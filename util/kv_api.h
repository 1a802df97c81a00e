#pragma once
// How the toolkit shows itself to other modules. kvUninstall.exe exports every public name of the
// toolkit: free functions with C linkage so that any language binds them by plain name through
// GetProcAddress, classes as C++ classes (their members carry the usual mangled names).
#define KV_API extern "C" __declspec(dllexport)
#define KV_CLASS __declspec(dllexport)

// Callback shapes shared by the toolkit: button, timer and monitor callbacks take one untyped
// context pointer; thread routines return an unsigned exit code.
typedef void (*KvCallback)(void* param);
typedef unsigned(__stdcall* KvThreadProc)(void* param);
