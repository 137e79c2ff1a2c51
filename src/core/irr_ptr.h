#pragma once
// Holds one reference to a reference-counted engine object (anything with grab() and drop()) and
// drops it when the holder goes. What a create... call returns is taken over as it is; an object
// the engine owns (a scene node, a texture) is held with grab(). Engine-owned nodes that nothing
// keeps stay raw pointers owned by the scene graph. No engine header is needed here.

namespace tessel {

template <typename T>
class IrrPtr {
  public:
    IrrPtr() = default;
    // Takes over the reference a create... call handed out (no extra grab).
    explicit IrrPtr(T* object) : object_(object) {}
    ~IrrPtr() { reset(); }
    IrrPtr(const IrrPtr& other) : object_(other.object_) {
        if (object_) object_->grab();
    }
    IrrPtr& operator=(const IrrPtr& other) {
        if (other.object_) other.object_->grab();
        reset(other.object_);
        return *this;
    }
    IrrPtr(IrrPtr&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    IrrPtr& operator=(IrrPtr&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }

    // Drops the held reference and takes over `object`'s (no extra grab).
    void reset(T* object = nullptr) {
        T* old = object_;
        object_ = object;
        if (old) old->drop();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    T* object_ = nullptr;
};

// A holder with a reference of its own to an object someone else owns.
template <typename T>
IrrPtr<T> grab(T* object) {
    if (object) object->grab();
    return IrrPtr<T>(object);
}

}  // namespace tessel
