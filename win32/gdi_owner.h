// GDI resources held for a while: an object (font, brush, bitmap) deleted
// when its owner goes, a device context released when it goes.
#pragma once

#include <windows.h>

#include <utility>

namespace kestrafin::win32 {

template <typename Object>
class GdiOwner {
  public:
    GdiOwner() = default;
    explicit GdiOwner(Object object) : object_(object) {}
    GdiOwner(const GdiOwner&) = delete;
    GdiOwner& operator=(const GdiOwner&) = delete;
    GdiOwner(GdiOwner&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GdiOwner& operator=(GdiOwner&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GdiOwner() {
        if (object_ != nullptr) ::DeleteObject(object_);
    }
    Object get() const { return object_; }

  private:
    Object object_ = nullptr;
};

// A device context of `window` (the screen's for none) with `font` selected,
// for measuring text; released when it goes.
class MeasuringContext {
  public:
    MeasuringContext(HWND window, HFONT font)
        : window_(window), context_(::GetDC(window)), previous_(::SelectObject(context_, font)) {}
    ~MeasuringContext() {
        ::SelectObject(context_, previous_);
        ::ReleaseDC(window_, context_);
    }
    MeasuringContext(const MeasuringContext&) = delete;
    MeasuringContext& operator=(const MeasuringContext&) = delete;
    HDC get() const { return context_; }

  private:
    HWND window_;
    HDC context_;
    HGDIOBJ previous_;
};

}  // namespace kestrafin::win32
