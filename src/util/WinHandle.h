// Owners for Win32 resources: one move-only holder, one traits struct per
// handle kind, so that no handle is closed by hand anywhere else.
#pragma once

#include <windows.h>

#include <utility>

namespace havrek {

template <class Traits>
class UniqueHandle {
 public:
  using type = typename Traits::type;

  UniqueHandle() = default;
  explicit UniqueHandle(type h) : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, Traits::invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, Traits::invalid()));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  explicit operator bool() const { return Traits::valid(h_); }
  type get() const { return h_; }
  // For out-parameters of API calls: releases the current handle first.
  type* put() {
    reset();
    return &h_;
  }
  type release() { return std::exchange(h_, Traits::invalid()); }
  void reset(type h = Traits::invalid()) {
    if (Traits::valid(h_)) Traits::close(h_);
    h_ = h;
  }

 private:
  type h_ = Traits::invalid();
};

// Kernel objects: CreateFile reports failure with INVALID_HANDLE_VALUE,
// most others with NULL, so both count as empty.
struct KernelHandleTraits {
  using type = HANDLE;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { ::CloseHandle(h); }
};

struct RegKeyTraits {
  using type = HKEY;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::RegCloseKey(h); }
};

struct ModuleTraits {
  using type = HMODULE;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::FreeLibrary(h); }
};

struct GdiObjectTraits {
  using type = HGDIOBJ;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::DeleteObject(h); }
};

struct FindHandleTraits {
  using type = HANDLE;
  static type invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { ::FindClose(h); }
};

struct AtomTraits {
  using type = ATOM;
  static type invalid() { return 0; }
  static bool valid(type a) { return a != 0; }
  static void close(type a) { ::GlobalDeleteAtom(a); }
};

// A mutex this thread owns: let go of, then closed.
struct OwnedMutexTraits {
  using type = HANDLE;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) {
    ::ReleaseMutex(h);
    ::CloseHandle(h);
  }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using OwnedMutex = UniqueHandle<OwnedMutexTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using Module = UniqueHandle<ModuleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using GlobalAtom = UniqueHandle<AtomTraits>;

}  // namespace havrek
