#include "memory_dump.h"

#include <libdivecomputer/buffer.h>
#include <libdivecomputer/device.h>

#include "dc_handles.h"
#include "native_exception.h"

namespace diveconnector {

std::vector<unsigned char> dumpMemory(const DeviceConnection& connection) {
    const BufferHandle buffer(dc_buffer_new(0));
    if (!buffer) {
        throw Exception(messages::kDumpingMemory, DC_STATUS_NOMEMORY);
    }
    const dc_status_t status = dc_device_dump(connection.device(), buffer.get());
    // Whatever libdivecomputer answered to the cancellation, the memory is not handed over.
    if (connection.events().listenerFailed()) {
        throw Exception(messages::kEventHandlerFailed);
    }
    if (status == DC_STATUS_UNSUPPORTED) {
        throw Exception(messages::kDumpUnsupported, status);
    }
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kDumpingMemory, status);
    }
    const unsigned char* data = dc_buffer_get_data(buffer.get());
    return std::vector<unsigned char>(data, data + dc_buffer_get_size(buffer.get()));
}

}  // namespace diveconnector
