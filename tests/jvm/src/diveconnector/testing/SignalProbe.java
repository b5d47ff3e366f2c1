package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;

/**
 * Main class of the child JVMs of the Ctrl-C tests. Downloads from the port named by its first
 * argument (a scenario file, or a BLE address with the model's vendor, product, family and
 * transports as further arguments, a descriptor it adds), saying when the transfer runs, prints
 * the {@link DownloadOutcome} and then waits for a signal to end the JVM, whose shutdown hook
 * prints a marker.
 */
public final class SignalProbe {
    public static final String TRANSFERRING = "transfer running";
    public static final String DOWNLOAD_ENDED = "download ended";
    public static final String SHUTDOWN_HOOK_RAN = "shutdown hook ran";
    private static final long POLL_MILLIS = 5;
    private static final long WAIT_FOR_SECOND_SIGNAL_MILLIS = 60_000;

    private SignalProbe() {}

    public static void main(String[] args) throws InterruptedException {
        DcSim.reset();
        Runtime.getRuntime().addShutdownHook(
            new Thread(() -> System.out.println(SHUTDOWN_HOOK_RAN)));
        // The library's SIGINT handler is in place once the transfer has begun.
        Thread watcher = new Thread(() -> {
            try {
                while (DcSim.calls("dc_device_foreach") == 0) {
                    Thread.sleep(POLL_MILLIS);
                }
                System.out.println(TRANSFERRING);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        watcher.setDaemon(true);
        watcher.start();

        String vendor = Downloads.VENDOR;
        String product = Downloads.PRODUCT;
        if (args.length == 5) {
            vendor = args[1];
            product = args[2];
            DcSim.descriptorsAdd(vendor, product, Integer.parseInt(args[3]), 0,
                                 Integer.parseInt(args[4]));
        }
        RecordingSet<Dive> dives = RecordingSet.accepting();
        Object result = null;
        Throwable thrown = null;
        try {
            result = new DeviceConnector().loadUserDivesFromDevice(args[0], vendor, product, dives);
        } catch (Throwable e) {
            thrown = e;
        }
        System.out.println(DownloadOutcome.of(result, thrown, dives).format());
        System.out.println(DOWNLOAD_ENDED);
        Thread.sleep(WAIT_FOR_SECOND_SIGNAL_MILLIS);
        System.out.println("no signal came");
    }
}
