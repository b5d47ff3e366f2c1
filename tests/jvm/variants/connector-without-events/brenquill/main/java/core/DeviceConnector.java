package brenquill.main.java.core;

import brenquill.main.java.core.exceptions.NativeException;
import java.util.Set;
import java.util.TreeSet;

/** An application's connector from before the download events: the native methods only. */
public class DeviceConnector {
    static {
        System.load(System.getProperty("diveconnector.library"));
    }

    public native TreeSet<Device> getSupportedDevices() throws NativeException;

    public native Device loadUserDivesFromDevice(String deviceName, String vendor, String product,
                                                 Set<Dive> dives) throws NativeException;

    public native void interruptDeviceDownload();
}
