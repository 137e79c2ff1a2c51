#pragma once
// Holds one reference to an engine object that a create... call returned, and drops it when the
// holder goes. Engine-owned nodes (add... results) stay raw pointers owned by the scene graph.

namespace tessel {

template <typename T>
class IrrPtr {
  public:
    IrrPtr() = default;
    // Takes over the reference a create... call handed out (no extra grab).
    explicit IrrPtr(T* object) : object_(object) {}
    ~IrrPtr() { reset(); }
    IrrPtr(const IrrPtr&) = delete;
    IrrPtr& operator=(const IrrPtr&) = delete;
    IrrPtr(IrrPtr&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    IrrPtr& operator=(IrrPtr&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }

    void reset(T* object = nullptr) {
        if (object_) object_->drop();
        object_ = object;
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    T* object_ = nullptr;
};

}  // namespace tessel
