// Owns one GDI object (font, brush, bitmap) and deletes it when it goes.
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

}  // namespace kestrafin::win32
