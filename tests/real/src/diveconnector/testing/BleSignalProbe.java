package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;

/**
 * Main class of the child JVM of the BLE Ctrl-C test: downloads from the port, vendor and product
 * of its arguments, says when the transfer runs, prints how the download ended and then waits
 * for a second signal to end the JVM.
 */
public final class BleSignalProbe {
    static final String TRANSFERRING = "transfer running";
    static final String DOWNLOAD_ENDED = "download ended";
    private static final long WAIT_FOR_SECOND_SIGNAL_MILLIS = 60_000;

    private BleSignalProbe() {}

    /** Says, once, that dives are coming: the library's SIGINT handler is in place by then. */
    private static final class Announcing extends DeviceConnector {
        private boolean announced;

        @Override
        public void onDownloadProgress(long current, long maximum) {
            if (!announced && current > 0) {
                announced = true;
                System.out.println(TRANSFERRING);
            }
        }
    }

    public static void main(String[] args) throws InterruptedException {
        RecordingSet<Dive> dives = RecordingSet.accepting();
        String outcome = "no failure";
        try {
            new Announcing().loadUserDivesFromDevice(args[0], args[1], args[2], dives);
        } catch (Exception e) {
            outcome = e.getMessage();
        }
        System.out.println("outcome " + outcome);
        System.out.println("dives " + dives.added().size());
        System.out.println(DOWNLOAD_ENDED);
        Thread.sleep(WAIT_FOR_SECOND_SIGNAL_MILLIS);
        System.out.println("no signal came");
    }
}
