#include "dive_parser.h"

#include <exception>
#include <utility>

#include "native_exception.h"

namespace diveconnector {

namespace {

// What downloadDives shares with onDive while libdivecomputer enumerates.
struct DownloadContext {
    dc_device_t* device;
    const DeviceEvents& events;
    const Diagnostics& diagnostics;
    const DownloadInterruption& interruption;
    DetailRequest detailRequest;
    std::vector<DiveRecord> dives;
    // libdivecomputer is C: an exception must not unwind through it. The first one is kept here
    // and rethrown once the enumeration has returned.
    std::exception_ptr failure;
};

void checkQuery(dc_status_t status, const char* message) {
    if (status != DC_STATUS_SUCCESS && status != DC_STATUS_UNSUPPORTED) {
        throw Exception(message, status);
    }
}

template <typename T>
T queryField(dc_parser_t* parser, dc_field_type_t field, unsigned int index, const char* message) {
    T value{};
    const dc_status_t status = dc_parser_get_field(parser, field, index, &value);
    checkQuery(status, message);
    return status == DC_STATUS_SUCCESS ? value : T{};
}

// `dive` counts the download's dives from 1, as the support log names them.
DiveRecord parseDive(dc_device_t* device, const unsigned char* data, unsigned int size,
                     const Diagnostics& diagnostics, DetailRequest detailRequest,
                     unsigned int dive) {
    const DiveParser parser(device, data, size, diagnostics);
    DiveRecord record;
    record.datetime = parser.parseDatetime();
    record.divetime = parser.parseDivetime();
    record.maxdepth = parser.parseMaxdepth();
    const auto mixes = parser.parseGasMixes();
    DetailSamples samples;
    record.profile =
        parser.parseSamples(detailRequest == DetailRequest::kParse ? &samples : nullptr);
    record.gasmix = startingGasMix(mixes, record.profile.firstGasMix);
    if (detailRequest == DetailRequest::kParse) {
        record.details = parser.parseDetails(dive);
        record.details->samples = std::move(samples);
    }
    return record;
}

int onDive(const unsigned char* data, unsigned int size, const unsigned char* fingerprint,
           unsigned int fingerprintSize, void* userdata) noexcept {
    auto& context = *static_cast<DownloadContext*>(userdata);
    if (context.interruption.requested() || context.events.listenerFailed()) {
        return 0;
    }
    const auto dive = static_cast<unsigned int>(context.dives.size() + 1);
    context.diagnostics.log().write(DC_LOGLEVEL_DEBUG, "Dive %u: %u bytes.", dive, size);
    try {
        DiveRecord record =
            parseDive(context.device, data, size, context.diagnostics, context.detailRequest, dive);
        if (fingerprint != nullptr) {
            record.fingerprint.assign(fingerprint, fingerprint + fingerprintSize);
        }
        context.dives.push_back(std::move(record));
        return 1;
    } catch (...) {
        context.failure = std::current_exception();
        return 0;
    }
}

}  // namespace

void ParserDestroy::operator()(dc_parser_t* parser) const noexcept {
    const dc_status_t status = dc_parser_destroy(parser);
    if (status != DC_STATUS_SUCCESS) {
        diagnostics->statusLine(lines::kDestroyingParser, status);
        diagnostics->log().write(DC_LOGLEVEL_WARNING,
                                 "Destroying the parser failed with status %d.",
                                 static_cast<int>(status));
    }
}

DiveParser::DiveParser(dc_device_t* device, const unsigned char* data, unsigned int size,
                       const Diagnostics& diagnostics)
    : diagnostics_(diagnostics), parser_(nullptr, ParserDestroy{&diagnostics}) {
    dc_parser_t* raw = nullptr;
#if DC_VERSION_CHECK(0, 9, 0)
    const dc_status_t status = dc_parser_new(&raw, device, data, size);
    parser_.reset(raw);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kCreatingParser, status);
    }
#else
    dc_status_t status = dc_parser_new(&raw, device);
    parser_.reset(raw);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kCreatingParser, status);
    }
    status = dc_parser_set_data(parser_.get(), data, size);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kRegisteringData, status);
    }
#endif
}

dc_datetime_t DiveParser::parseDatetime() const {
    dc_datetime_t datetime{};
    const dc_status_t status = dc_parser_get_datetime(parser_.get(), &datetime);
    checkQuery(status, messages::kParsingDatetime);
    return status == DC_STATUS_SUCCESS ? datetime : dc_datetime_t{};
}

std::uint32_t DiveParser::parseDivetime() const {
    return queryField<unsigned int>(parser_.get(), DC_FIELD_DIVETIME, 0,
                                    messages::kParsingDivetime);
}

double DiveParser::parseMaxdepth() const {
    diagnostics_.line(lines::kParsingMaxdepth);
    return queryField<double>(parser_.get(), DC_FIELD_MAXDEPTH, 0, messages::kParsingMaxdepth);
}

std::uint32_t DiveParser::parseGasMixCount() const {
    diagnostics_.line(lines::kParsingGasMixes);
    return queryField<unsigned int>(parser_.get(), DC_FIELD_GASMIX_COUNT, 0,
                                    messages::kParsingGasMixCount);
}

std::vector<std::optional<dc_gasmix_t>> DiveParser::parseGasMixes() const {
    const std::uint32_t count = parseGasMixCount();
    std::vector<std::optional<dc_gasmix_t>> mixes;
    for (std::uint32_t index = 0; index < count; ++index) {
        dc_gasmix_t mix{};
        const dc_status_t status = dc_parser_get_field(parser_.get(), DC_FIELD_GASMIX, index, &mix);
        checkQuery(status, messages::kParsingGasMix);
        mixes.push_back(status == DC_STATUS_SUCCESS ? std::optional(mix) : std::nullopt);
    }
    return mixes;
}

DiveProfile DiveParser::parseSamples(DetailSamples* details) const {
    return diveconnector::parseSamples(parser_.get(), details);
}

DiveDetails DiveParser::parseDetails(unsigned int dive) const {
    return diveconnector::parseDetails(parser_.get(), diagnostics_.log(), dive);
}

dc_gasmix_t startingGasMix(const std::vector<std::optional<dc_gasmix_t>>& mixes,
                           std::optional<std::uint32_t> firstGasMix) {
    if (firstGasMix && *firstGasMix < mixes.size() && mixes[*firstGasMix]) {
        return *mixes[*firstGasMix];
    }
    if (!mixes.empty() && mixes.front()) {
        return *mixes.front();
    }
    return dc_gasmix_t{};
}

std::vector<DiveRecord> downloadDives(const DeviceConnection& connection,
                                      const DownloadInterruption& interruption,
                                      DetailRequest detailRequest) {
    const DeviceEvents& events = connection.events();
    DownloadContext context{connection.device(),
                            events,
                            events.diagnostics(),
                            interruption,
                            detailRequest,
                            {},
                            nullptr};
    const dc_status_t status = dc_device_foreach(connection.device(), onDive, &context);
    if (context.failure) {
        std::rethrow_exception(context.failure);
    }
    // Whatever libdivecomputer answered to the cancellation, the dives are not handed over.
    if (connection.events().listenerFailed()) {
        throw Exception(messages::kEventHandlerFailed);
    }
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kDownloadingDives, status);
    }
    return std::move(context.dives);
}

}  // namespace diveconnector
