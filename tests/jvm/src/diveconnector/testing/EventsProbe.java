package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;

/**
 * Main class of the child JVMs that compare the download events with the library's standard
 * output: downloads from the port in its argument with a connector that prints one "heard" line
 * per event as it arrives, then prints the {@link DownloadOutcome} line.
 */
public final class EventsProbe {
    private EventsProbe() {}

    static final class PrintingConnector extends DeviceConnector {
        @Override
        public void onDownloadProgress(long current, long maximum) {
            System.out.println("heard progress " + current + "/" + maximum);
        }

        @Override
        public void onDownloadWaiting() {
            System.out.println("heard waiting");
        }

        @Override
        public void onDeviceInfo(long model, long firmware, long serial) {
            System.out.println("heard devinfo " + model + " " + firmware + " " + serial);
        }
    }

    public static void main(String[] args) {
        DcSim.reset();
        RecordingSet<Dive> dives = RecordingSet.accepting();
        Object result = null;
        Throwable thrown = null;
        try {
            result = new PrintingConnector().loadUserDivesFromDevice(args[0], Downloads.VENDOR,
                                                                     Downloads.PRODUCT, dives);
        } catch (Throwable e) {
            thrown = e;
        }
        System.out.println(DownloadOutcome.of(result, thrown, dives).format());
    }
}
