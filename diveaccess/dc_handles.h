// Owners of libdivecomputer handles: one move-only type per kind of handle, each freeing its
// handle exactly once with the matching libdivecomputer call.
//
//     dc_iterator_t* raw = nullptr;
//     const dc_status_t status = dc_descriptor_iterator(&raw);
//     IteratorHandle iterator(raw);   // take ownership straight after the call, before any check
//     if (status != DC_STATUS_SUCCESS) { ... }
//
// A null handle is fine: libdivecomputer's free functions accept it. Handles whose release can
// fail in a way the user must hear about (the device, the parser) have owners of their own beside
// the code that opens them.
#pragma once

#include <libdivecomputer/buffer.h>
#include <libdivecomputer/context.h>
#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/iostream.h>
#include <libdivecomputer/iterator.h>

#include <memory>

namespace diveconnector {

struct ContextFree {
    void operator()(dc_context_t* context) const noexcept { dc_context_free(context); }
};
struct IteratorFree {
    void operator()(dc_iterator_t* iterator) const noexcept { dc_iterator_free(iterator); }
};
struct DescriptorFree {
    void operator()(dc_descriptor_t* descriptor) const noexcept { dc_descriptor_free(descriptor); }
};
struct IostreamClose {
    void operator()(dc_iostream_t* iostream) const noexcept { dc_iostream_close(iostream); }
};
struct BufferFree {
    void operator()(dc_buffer_t* buffer) const noexcept { dc_buffer_free(buffer); }
};

using ContextHandle = std::unique_ptr<dc_context_t, ContextFree>;
using IteratorHandle = std::unique_ptr<dc_iterator_t, IteratorFree>;
using DescriptorHandle = std::unique_ptr<dc_descriptor_t, DescriptorFree>;
using IostreamHandle = std::unique_ptr<dc_iostream_t, IostreamClose>;
using BufferHandle = std::unique_ptr<dc_buffer_t, BufferFree>;

// An item of a transport's iterator (dc_usb_device_t, dc_serial_device_t, ...), with the free
// function of its kind:
//
//     ItemHandle<dc_usb_device_t> item(raw, dc_usb_device_free);
template <typename Item>
using ItemHandle = std::unique_ptr<Item, void (*)(Item*)>;

}  // namespace diveconnector
