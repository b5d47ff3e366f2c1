package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;

/**
 * Main class of the child JVMs of the Ctrl-C tests. Downloads from the scenario file named by its
 * argument, saying when the transfer runs, prints the {@link DownloadOutcome} and then waits for
 * a signal to end the JVM, whose shutdown hook prints a marker.
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

        RecordingSet<Dive> dives = RecordingSet.accepting();
        Object result = null;
        Throwable thrown = null;
        try {
            result = new DeviceConnector().loadUserDivesFromDevice(args[0], Downloads.VENDOR,
                                                                   Downloads.PRODUCT, dives);
        } catch (Throwable e) {
            thrown = e;
        }
        System.out.println(DownloadOutcome.of(result, thrown, dives).format());
        System.out.println(DOWNLOAD_ENDED);
        Thread.sleep(WAIT_FOR_SECOND_SIGNAL_MILLIS);
        System.out.println("no signal came");
    }
}
