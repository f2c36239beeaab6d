#pragma once

#include <glib-object.h>

#include <memory>
#include <utility>

namespace orvan {

// Owns one reference to a GObject. Adopts the reference it is given (take) or adds one (retain);
// floating references are sunk so the pointer always owns a full reference.
template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    static GObjectPtr take(T* object) { return GObjectPtr(object); }
    static GObjectPtr retain(T* object) {
        if (object != nullptr) g_object_ref_sink(object);
        return GObjectPtr(object);
    }
    GObjectPtr(const GObjectPtr& other) : object_(other.object_) {
        if (object_ != nullptr) g_object_ref(object_);
    }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr() {
        if (object_ != nullptr) g_object_unref(object_);
    }

    T* get() const { return object_; }
    T* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit GObjectPtr(T* object) : object_(object) {}
    T* object_ = nullptr;
};

// Frees a g_malloc'ed string.
struct GFreeDeleter {
    void operator()(void* pointer) const { g_free(pointer); }
};

// Owns one reference to a GVariant; takeVariant sinks a floating one.
struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
inline VariantPtr takeVariant(GVariant* variant) {
    return VariantPtr(variant != nullptr ? g_variant_take_ref(variant) : nullptr);
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

}  // namespace orvan
