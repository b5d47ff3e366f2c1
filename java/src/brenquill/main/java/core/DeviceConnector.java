package brenquill.main.java.core;

import brenquill.main.java.core.exceptions.NativeException;
import java.util.Set;
import java.util.TreeSet;

/**
 * The native dive-computer library.
 *
 * <p>Loaded from the absolute path in the system property {@code diveconnector.library} when
 * that is set, else by name from {@code java.library.path}.
 */
public class DeviceConnector {
    public static final String LIBRARY_PROPERTY = "diveconnector.library";

    static {
        String path = System.getProperty(LIBRARY_PROPERTY);
        if (path != null && !path.isEmpty()) {
            System.load(path);
        } else {
            System.loadLibrary("diveconnector");
        }
    }

    /** Every dive-computer model the library can talk to, each with its product as serial. */
    public native TreeSet<Device> getSupportedDevices() throws NativeException;

    /**
     * Downloads the dives of the computer on port {@code deviceName} into {@code dives} and
     * returns that computer, serial number included.
     */
    public native Device loadUserDivesFromDevice(String deviceName, String vendor, String product,
                                                 Set<Dive> dives) throws NativeException;

    /** Asks a running download to stop after the current dive; safe from any thread. */
    public native void interruptDeviceDownload();
}
