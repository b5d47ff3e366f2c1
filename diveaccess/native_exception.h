// The one error type of the dive-computer layer, and the diagnostic lines it writes.
//
// Every failure of a libdivecomputer call is thrown as an Exception carrying a fixed message from
// the catalogue below and, where the call returned one, its dc_status_t. The exports turn what()
// into the text of the Java NativeException, so the description format is part of the Java
// contract:
//
//     throw Exception(messages::kOpeningDevice, status);   // what(): "[-6]: Error opening device."
//     throw Exception(messages::kNoMatchingDevice);        // what(): "[-]: No matching device
//     found."
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace diveconnector {

class Exception : public std::exception {
  public:
    explicit Exception(std::string message);
    Exception(std::string message, std::int32_t status);

    // "[<status or ->]: <message>"; composed at construction so what() cannot fail.
    [[nodiscard]] const char* what() const noexcept override { return description_.c_str(); }
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    [[nodiscard]] std::optional<std::int32_t> status() const noexcept { return status_; }

  private:
    std::string message_;
    std::optional<std::int32_t> status_;
    std::string description_;
};

// Every message the layer throws.
namespace messages {
inline constexpr char kCreatingContext[] = "Could not create the context.";
inline constexpr char kNoMatchingDescriptor[] = "No matching device descriptor found.";
inline constexpr char kNoMatchingDevice[] = "No matching device found.";
inline constexpr char kOpeningDevice[] = "Error opening device.";
inline constexpr char kRegisteringEvents[] = "Error registering the event handler.";
inline constexpr char kRegisteringCancel[] = "Error registering the cancellation handler.";
inline constexpr char kRegisteringFingerprint[] = "Error registering the fingerprint data.";
inline constexpr char kDownloadingDives[] = "Error downloading the dives.";
inline constexpr char kEventHandlerFailed[] = "The application's event handler failed.";
inline constexpr char kDumpUnsupported[] = "This dive computer cannot dump its memory.";
inline constexpr char kDumpingMemory[] = "Error dumping the memory.";
inline constexpr char kCreatingParser[] = "Error creating the parser.";
inline constexpr char kRegisteringData[] = "Error registering the data.";
inline constexpr char kParsingDatetime[] = "Error parsing the datetime.";
inline constexpr char kParsingDivetime[] = "Error parsing the divetime.";
inline constexpr char kParsingMaxdepth[] = "Error parsing the maxdepth.";
inline constexpr char kParsingGasMixCount[] = "Error parsing the gas mix count.";
inline constexpr char kParsingGasMix[] = "Error parsing the gas mix.";
inline constexpr char kParsingSamples[] = "Error parsing the sample data.";
}  // namespace messages

// Diagnostic lines on standard output (see Diagnostics): no prefix, flushed at the end of every
// line.
namespace lines {
inline constexpr char kParsingMaxdepth[] = "Parsing the maxdepth.";
inline constexpr char kParsingGasMixes[] = "Parsing the gas mixes.";
inline constexpr char kCreatingDescriptorIterator[] =
    "Error creating the device descriptor iterator.";
inline constexpr char kIteratingDescriptors[] = "Error iterating the device descriptors.";
inline constexpr char kClosingDevice[] = "Error closing the device (";
inline constexpr char kDestroyingParser[] = "Error destroying the parser (";
}  // namespace lines

}  // namespace diveconnector
