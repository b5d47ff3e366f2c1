// Replacement allocation functions, preloaded into a test JVM (LD_PRELOAD): they fail one chosen
// allocation of one thread, so tests reach the allocation-failure paths of the JNI library
// without any seam in the library itself. Other threads, and this one while disarmed, allocate
// normally.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Allocations of this thread up to and including the failing one; 0 while disarmed.
thread_local unsigned long countdown = 0;
thread_local bool fired = false;

bool failNow() {
    if (countdown == 0 || --countdown != 0) {
        return false;
    }
    fired = true;
    return true;
}

void* allocate(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void* allocate(std::size_t size, std::align_val_t alignment) noexcept {
    std::size_t bytes = static_cast<std::size_t>(alignment);
    void* memory = nullptr;
    if (posix_memalign(&memory, bytes < sizeof(void*) ? sizeof(void*) : bytes,
                       size == 0 ? 1 : size) != 0) {
        return nullptr;
    }
    return memory;
}

void* allocateOrThrow(std::size_t size) {
    void* memory = failNow() ? nullptr : allocate(size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void* allocateOrThrow(std::size_t size, std::align_val_t alignment) {
    void* memory = failNow() ? nullptr : allocate(size, alignment);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

}  // namespace

// The nth allocation of the calling thread from now on fails.
extern "C" void failing_new_arm(unsigned long nth) {
    countdown = nth;
    fired = false;
}

// Disarms the calling thread; nonzero if its armed allocation failed meanwhile.
extern "C" int failing_new_disarm() {
    countdown = 0;
    return fired ? 1 : 0;
}

void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}

void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return failNow() ? nullptr : allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return failNow() ? nullptr : allocate(size);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, alignment);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return failNow() ? nullptr : allocate(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return failNow() ? nullptr : allocate(size, alignment);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::align_val_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::align_val_t) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    std::free(memory);
}
