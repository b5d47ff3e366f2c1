package brenquill.main.java.core;

import brenquill.main.java.core.exceptions.NativeException;
import java.util.Set;
import java.util.TreeSet;

/**
 * The native dive-computer library.
 *
 * <p>Loaded from the absolute path in the system property {@code diveconnector.library} when
 * that is set, else by name from {@code java.library.path}.
 *
 * <p>While {@link #loadUserDivesFromDevice} runs, the library calls the download-event methods
 * below on the downloading thread, on the object the download was called on. A subclass overrides
 * the ones it wants; a class that leaves them out is simply not called. A method that throws ends
 * the download as a cancellation does: no dive is handed over and the download throws a
 * {@link NativeException} saying that the application's event handler failed.
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

    /**
     * The raw memory of the computer on port {@code deviceName}, for a bug report. The events
     * and Ctrl-C work as in a download. Fails with "[-1]: This dive computer cannot dump its
     * memory." for models whose libdivecomputer backend has no memory dump.
     */
    public native byte[] dumpDeviceMemory(String deviceName, String vendor, String product)
        throws NativeException;

    /**
     * Looks for what a download can reach: the serial ports, the attached USB and USB HID dive
     * computers of known models and, for {@code seconds} (0 to 600; 0 leaves it out), the
     * Bluetooth and BLE devices nearby. Each find goes to {@link #onDeviceFound} on this thread.
     * Returns the transport bits searched (as in {@link #onSupportedDevice}): a transport that is
     * missing could not be searched, such as Bluetooth without BlueZ or an adapter.
     */
    public native long scanForDevices(int seconds) throws NativeException;

    /** The version the loaded libdivecomputer reports, such as "0.9.0"; "unknown" if none. */
    public static native String getLibdivecomputerVersion();

    /** Asks a running download to stop after the current dive; safe from any thread. */
    public native void interruptDeviceDownload();

    /**
     * The transfer has advanced to {@code current} of {@code maximum} units (bytes for most
     * computers). Both are unsigned 32-bit numbers; {@code maximum} may change during a download,
     * up or down (a Suunto Vyper first counts its whole memory, then only its logbook), and
     * {@code current} need not reach it.
     * Does nothing here.
     */
    public void onDownloadProgress(long current, long maximum) {}

    /** The computer waits for the diver to do something, such as pressing its download button. */
    public void onDownloadWaiting() {}

    /**
     * The computer identified itself: its model number, firmware version and serial number, each
     * an unsigned 32-bit number as the computer reports it. Does nothing here.
     */
    public void onDeviceInfo(long model, long firmware, long serial) {}

    /**
     * A BLE dive computer that pairs with a PIN (Aqualung i330R, Apeks DSX) shows it on its
     * screen while it is being opened: the digits the diver reads there, or null to give none
     * (the download then fails to open the computer). Answers null here.
     */
    public String onPinCodeRequest(String address, String name) {
        return null;
    }

    /**
     * Called once {@link #loadUserDivesFromDevice} has put every dive into {@code dives} and
     * closed the computer, before it returns {@code device}: the place to save the dives where the
     * application keeps them. Answer true once they are saved. With the fingerprint cache on
     * ({@code diveconnector.fingerprints}) the cache moves on only after true, so a dive that
     * could not be saved is offered again by the next download. False leaves the cache as it was
     * and the download returns {@code device} as usual; an exception also leaves the cache as it
     * was and the download throws a {@link NativeException} saying that the application could not
     * keep the dives (they stay in the set). Answers true here: the cache moves on when the
     * download returns, and the application saves the dives afterwards.
     */
    public boolean onDivesDownloaded(Device device, Set<Dive> dives) {
        return true;
    }

    /**
     * During {@link #getSupportedDevices}, once per entry of libdivecomputer's table (a model
     * listed twice is reported twice): how the model can be reached, as libdivecomputer's
     * transport bits (serial 0x01, USB 0x02, USB HID 0x04, IrDA 0x08, Bluetooth 0x10, BLE 0x20).
     * Does nothing here.
     */
    public void onSupportedDevice(String vendor, String product, long transports) {}

    /**
     * During {@link #scanForDevices}, once per find: {@code port} is the device name to download
     * from, {@code name} what the device calls itself ("" when nothing; "vvvv:pppp" ids for USB),
     * {@code signalStrength} in dBm (0 when not known), {@code transport} the one transport bit it
     * was found on, and {@code models} the models it may be, as {@link #getSupportedDevices} lists
     * them (none for a serial port, or a name no model answers to). Does nothing here.
     */
    public void onDeviceFound(String port, String name, int signalStrength, long transport,
                              Device[] models) {}
}
