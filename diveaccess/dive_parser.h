// Downloading and parsing the dives of an open dive computer.
//
//     const DownloadInterruption interruption;   // taken before the device is opened
//     DeviceConnection connection(session);
//     std::vector<DiveRecord> dives = downloadDives(connection, interruption);
//
// Any failure fails the whole download: no dive is returned. Only the details, which the download
// parses when asked, leave out what fails to parse instead (see parseDetails). An interruption
// ends it at the next dive with the dives parsed so far.
#pragma once

#include <libdivecomputer/datetime.h>
#include <libdivecomputer/device.h>
#include <libdivecomputer/parser.h>
#include <libdivecomputer/version.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "device_events.h"
#include "device_session.h"
#include "diagnostics.h"
#include "dive_details.h"
#include "dive_profile.h"

namespace diveconnector {

// One parsed dive. Whatever the dive does not report stays zero.
struct DiveRecord {
    dc_datetime_t datetime{};
    double divetime = 0.0;  // seconds
    double maxdepth = 0.0;  // metres
    dc_gasmix_t gasmix{};   // the mix the dive starts on
    DiveProfile profile;
    std::vector<unsigned char> fingerprint;  // as the device identifies the dive
    std::optional<DiveDetails> details;      // only when the download asked for them
};

// Whether a download also parses each dive's details, for an application that takes them.
enum class DetailRequest { kSkip, kParse };

// Destroys the parser when the owner goes; a failing destruction is reported as a line.
struct ParserDestroy {
    const Diagnostics* diagnostics;
    void operator()(dc_parser_t* parser) const noexcept;
};
using ParserHandle = std::unique_ptr<dc_parser_t, ParserDestroy>;

// The parser of one dive. Field queries accept DC_STATUS_UNSUPPORTED as "not reported" and keep
// the default; any other failure throws Exception with the query's message and status.
class DiveParser {
  public:
    // The data must stay valid while the parser lives (libdivecomputer before 0.9 keeps the
    // pointer); the diagnostics are borrowed and outlive the parser.
    DiveParser(dc_device_t* device, const unsigned char* data, unsigned int size,
               const Diagnostics& diagnostics);

    [[nodiscard]] dc_datetime_t parseDatetime() const;
    [[nodiscard]] std::uint32_t parseDivetime() const;
    [[nodiscard]] double parseMaxdepth() const;
    [[nodiscard]] std::uint32_t parseGasMixCount() const;
    // Every configured mix by index; an index the dive does not report stays empty.
    [[nodiscard]] std::vector<std::optional<dc_gasmix_t>> parseGasMixes() const;
    // With `details`, their samples too, in the same walk.
    [[nodiscard]] DiveProfile parseSamples(DetailSamples* details = nullptr) const;
    // See parseDetails in dive_details.h; failures go to the diagnostics' support log.
    [[nodiscard]] DiveDetails parseDetails(unsigned int dive) const;

  private:
    const Diagnostics& diagnostics_;
    ParserHandle parser_;
};

// The mix named by the dive's first gas-mix sample, else the mix of index 0, else no mix (zeros).
[[nodiscard]] dc_gasmix_t startingGasMix(const std::vector<std::optional<dc_gasmix_t>>& mixes,
                                         std::optional<std::uint32_t> firstGasMix);

// Enumerates and parses every dive, in the order the device delivers them (newest first).
// Throws Exception "Error downloading the dives." with the enumeration's status, whatever a dive's
// parsing threw, unchanged, or "The application's event handler failed." when the connection's
// listener failed. With DetailRequest::kParse every record also carries its details.
[[nodiscard]] std::vector<DiveRecord> downloadDives(
    const DeviceConnection& connection, const DownloadInterruption& interruption,
    DetailRequest detailRequest = DetailRequest::kSkip);

}  // namespace diveconnector
