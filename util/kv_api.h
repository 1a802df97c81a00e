#pragma once
// How the toolkit shows itself to other modules. kvUninstall.exe exports every public name of the
// toolkit: free functions with C linkage so that any language binds them by plain name through
// GetProcAddress, classes as C++ classes (their members carry the usual mangled names).
// The toolkit's own build exports. A program built on the SDK calls plain declarations: the stubs
// of the SDK's delay-load import library answer them and bind kvUninstall.exe on first use.
#ifdef KV_TOOLKIT_BUILD
#define KV_EXPORTED __declspec(dllexport)
#else
#define KV_EXPORTED
#endif
#define KV_API extern "C" KV_EXPORTED
#define KV_CLASS KV_EXPORTED

// Callback shapes shared by the toolkit: button, timer and monitor callbacks take one untyped
// context pointer; thread routines return an unsigned exit code.
typedef void (*KvCallback)(void* param);
typedef unsigned(__stdcall* KvThreadProc)(void* param);

namespace kv {

// The body of an exported function whose work may throw (memory that a huge input asks for and
// cannot be had): gives the body's result, or failure instead of letting the exception cross into
// a caller that may not even be C++.
template <typename Result, typename Body>
Result NoThrow(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace kv
