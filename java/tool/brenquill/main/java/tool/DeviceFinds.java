package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import java.util.ArrayList;
import java.util.List;

/** The library's connector, keeping what a scan finds. */
final class DeviceFinds extends DeviceConnector {
    /** One find: where to download from, what the device calls itself, the models it may be. */
    record Find(String port, String name, int signalStrength, long transport,
                List<Device> models) {}

    private final List<Find> finds = new ArrayList<>();

    @Override
    public void onDeviceFound(String port, String name, int signalStrength, long transport,
                              Device[] models) {
        finds.add(new Find(port, name, signalStrength, transport, List.of(models)));
    }

    List<Find> finds() {
        return finds;
    }
}
