#pragma once
// One owner type per kind of handle. Each releases its handle exactly once, on every path; none
// can be copied, all can be moved. After this header no function of the toolkit closes by hand.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kv {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type h) noexcept : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Type get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::Empty(); }

  void reset(Type h = Traits::Empty()) noexcept {
    if (h_ != Traits::Empty()) Traits::Close(h_);
    h_ = h;
  }
  Type release() noexcept { return std::exchange(h_, Traits::Empty()); }
  // For out-parameters: releases what is held, then lends the slot.
  Type* put() noexcept {
    reset();
    return &h_;
  }

 private:
  Type h_ = Traits::Empty();
};

template <typename T, auto CloseFn>
struct NullTraits {
  using Type = T;
  static constexpr Type Empty() noexcept { return Type{}; }
  static void Close(Type h) noexcept { CloseFn(h); }
};

template <auto CloseFn>
struct InvalidValueTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseFn(h); }
};

inline void CloseGdiObject(HGDIOBJ h) { ::DeleteObject(h); }
inline void CloseView(void* p) { ::UnmapViewOfFile(p); }
inline void CloseStdioFile(FILE* f) { std::fclose(f); }
inline void CloseIcon(HICON h) { ::DestroyIcon(h); }
inline void CloseService(SC_HANDLE h) { ::CloseServiceHandle(h); }
inline void DiscardResourceUpdate(HANDLE h) { ::EndUpdateResourceW(h, TRUE); }

using UniqueHandleKernel = UniqueHandle<NullTraits<HANDLE, ::CloseHandle>>;  // threads, events,
                                                                             // mappings, processes
using UniqueFile = UniqueHandle<InvalidValueTraits<::CloseHandle>>;
using UniqueFind = UniqueHandle<InvalidValueTraits<::FindClose>>;
using UniqueKey = UniqueHandle<NullTraits<HKEY, ::RegCloseKey>>;
using UniqueModule = UniqueHandle<NullTraits<HMODULE, ::FreeLibrary>>;
using UniqueView = UniqueHandle<NullTraits<void*, CloseView>>;
using UniqueMemDC = UniqueHandle<NullTraits<HDC, ::DeleteDC>>;
using UniqueGlobal = UniqueHandle<NullTraits<HGLOBAL, ::GlobalFree>>;
using UniqueStdioFile = UniqueHandle<NullTraits<FILE*, CloseStdioFile>>;
using UniqueIcon = UniqueHandle<NullTraits<HICON, CloseIcon>>;
using UniqueCoTaskMem =
    UniqueHandle<NullTraits<void*, ::CoTaskMemFree>>;  // shell PIDLs and the like
using UniqueLocal =
    UniqueHandle<NullTraits<HLOCAL, ::LocalFree>>;  // security descriptors and the like
using UniqueService =
    UniqueHandle<NullTraits<SC_HANDLE, CloseService>>;  // service manager, services
// A resource update that is discarded unless committed: EndUpdateResourceW(release(), FALSE).
using UniqueResourceUpdate = UniqueHandle<NullTraits<HANDLE, DiscardResourceUpdate>>;
template <typename T>
using UniqueGdi = UniqueHandle<NullTraits<T, CloseGdiObject>>;
using UniqueBitmap = UniqueGdi<HBITMAP>;
using UniqueFont = UniqueGdi<HFONT>;
using UniquePen = UniqueGdi<HPEN>;
using UniqueBrush = UniqueGdi<HBRUSH>;
using UniqueRegion = UniqueGdi<HRGN>;

inline void FreeMemory(void* p) { std::free(p); }
using UniqueMalloc = UniqueHandle<NullTraits<void*, FreeMemory>>;  // what a C library hands out

// A VARIANT (or PROPVARIANT) that is cleared when it goes out of scope.
template <typename T, HRESULT (*Clear)(T*)>
class ScopedVariantOf {
 public:
  ScopedVariantOf() noexcept { std::memset(&v_, 0, sizeof(v_)); }
  ScopedVariantOf(const ScopedVariantOf&) = delete;
  ScopedVariantOf& operator=(const ScopedVariantOf&) = delete;
  ~ScopedVariantOf() { Clear(&v_); }
  T* get() noexcept { return &v_; }
  T* operator->() noexcept { return &v_; }

 private:
  T v_;
};
inline HRESULT ClearVariant(VARIANT* v) { return ::VariantClear(v); }
inline HRESULT ClearPropVariant(PROPVARIANT* v) { return ::PropVariantClear(v); }
using ScopedVariant = ScopedVariantOf<VARIANT, ClearVariant>;
using ScopedPropVariant = ScopedVariantOf<PROPVARIANT, ClearPropVariant>;

// Holds a critical section for the scope.
class CriticalSectionScope {
 public:
  explicit CriticalSectionScope(CRITICAL_SECTION* cs) noexcept : cs_(cs) {
    ::EnterCriticalSection(cs_);
  }
  CriticalSectionScope(const CriticalSectionScope&) = delete;
  CriticalSectionScope& operator=(const CriticalSectionScope&) = delete;
  ~CriticalSectionScope() { ::LeaveCriticalSection(cs_); }

 private:
  CRITICAL_SECTION* cs_;
};

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDC {
 public:
  explicit WindowDC(HWND wnd) noexcept : wnd_(wnd), dc_(::GetDC(wnd)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() {
    if (dc_) ::ReleaseDC(wnd_, dc_);
  }
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND wnd_;
  HDC dc_;
};

// Selects an object into a DC and puts the previous one back when it goes out of scope.
class SelectObjectScope {
 public:
  SelectObjectScope(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(::SelectObject(dc, obj)) {}
  SelectObjectScope(const SelectObjectScope&) = delete;
  SelectObjectScope& operator=(const SelectObjectScope&) = delete;
  ~SelectObjectScope() {
    if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// GlobalLock for as long as the scope lives.
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL mem) noexcept
      : mem_(mem), data_(mem ? ::GlobalLock(mem) : nullptr) {}
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  ~GlobalLockScope() {
    if (data_) ::GlobalUnlock(mem_);
  }
  void* get() const noexcept { return data_; }

 private:
  HGLOBAL mem_;
  void* data_;
};

// COM interface pointer with Release on scope exit.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  // Hands the reference to a caller who releases it.
  T* release() noexcept { return std::exchange(p_, nullptr); }
  template <typename U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    return p_ ? p_->QueryInterface(__uuidof(U), out->put_void()) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

// CoInitializeEx for the scope; uninitialises only when this scope's call succeeded.
class ComInit {
 public:
  explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept
      : hr_(::CoInitializeEx(nullptr, model)) {}
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
  ~ComInit() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  // S_FALSE and RPC_E_CHANGED_MODE both leave COM usable on this thread.
  bool usable() const noexcept { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

}  // namespace kv
