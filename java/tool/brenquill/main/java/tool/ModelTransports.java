package brenquill.main.java.tool;

import brenquill.main.java.core.DeviceConnector;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** The library's connector, noting the transports of each model it lists. */
final class ModelTransports extends DeviceConnector {
    private final Map<List<String>, Long> transports = new HashMap<>();

    @Override
    public void onSupportedDevice(String vendor, String product, long mask) {
        // A model listed twice has the transports of both entries.
        transports.merge(List.of(vendor, product), mask, (a, b) -> a | b);
    }

    /** The bitmask of the model; 0 when the library did not name it. */
    long of(String vendor, String product) {
        return transports.getOrDefault(List.of(vendor, product), 0L);
    }
}
