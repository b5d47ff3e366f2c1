package diveconnector.sweep;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;

/**
 * One loadUserDivesFromDevice call and all it gave. The dive set keeps insertion order, so the
 * snapshots are in the order the library added the dives: the computer's, newest first.
 */
public record Download(Device device, List<DiveSnapshot> dives, Throwable thrown) {
    private static final DeviceConnector CONNECTOR = new DeviceConnector();

    public static Download run(String port, String vendor, String product) {
        Set<Dive> dives = new LinkedHashSet<>();
        try {
            Device device = CONNECTOR.loadUserDivesFromDevice(port, vendor, product, dives);
            return new Download(device, DiveSnapshot.ofAll(dives), null);
        } catch (Throwable thrown) {
            return new Download(null, DiveSnapshot.ofAll(dives), thrown);
        }
    }

    /** Asks every running download to stop at its next dive. */
    public static void interrupt() {
        CONNECTOR.interruptDeviceDownload();
    }

    /** What the call did, for assertion messages. */
    public String describe() {
        return thrown != null ? "threw " + thrown + " with " + dives.size() + " dives in the set"
                              : "returned " + device + " with " + dives.size() + " dives";
    }
}
