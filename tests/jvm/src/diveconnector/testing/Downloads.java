package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;

/** Downloads from simulated dive computers in this JVM. */
public final class Downloads {
    /** The serial port of the computer {@link #attach} attaches. */
    public static final String PORT = "sim:test";
    public static final String VENDOR = "Dcsim";
    public static final String PRODUCT = "Reef Explorer";

    private static final DeviceConnector CONNECTOR = new DeviceConnector();
    private static final long POLL_MILLIS = 1;

    private Downloads() {}

    public static DeviceConnector connector() {
        return CONNECTOR;
    }

    /** Attaches a computer described by the scenario lines on {@link #PORT}. */
    public static void attach(String scenario) {
        DcSim.attach("serial " + PORT + "\n" + scenario);
    }

    /**
     * Downloads from {@link #PORT} into the set; whether it succeeds or fails, no libdivecomputer
     * handle may be left behind.
     */
    public static Device download(Set<Dive> dives) throws NativeException {
        return download(PORT, VENDOR, PRODUCT, dives);
    }

    public static Device download(String port, String vendor, String product, Set<Dive> dives)
        throws NativeException {
        try {
            return CONNECTOR.loadUserDivesFromDevice(port, vendor, product, dives);
        } finally {
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        }
    }

    /**
     * Starts a thread that interrupts the download once it parses its {@code dive}th dive; the
     * caller joins it after the download.
     */
    public static Thread interruptWhenParsing(int dive) {
        Thread interrupter = new Thread(() -> {
            try {
                while (DcSim.calls("dc_parser_new") < dive) {
                    Thread.sleep(POLL_MILLIS);
                }
                CONNECTOR.interruptDeviceDownload();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        interrupter.start();
        return interrupter;
    }

    /** Every dive of the computer on {@link #PORT}, in the order the download added them. */
    public static List<Dive> dives() throws NativeException {
        RecordingSet<Dive> dives = RecordingSet.accepting();
        download(dives);
        return new ArrayList<>(dives.added());
    }
}
