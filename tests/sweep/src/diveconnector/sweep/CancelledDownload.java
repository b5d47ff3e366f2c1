package diveconnector.sweep;

import diveconnector.testing.DcSim;

/**
 * Main class of the child JVMs of {@link CtrlCStressTest}: downloads from a slow computer, which
 * the parent cancels with SIGINT, then from a quick one. Prints one line per download:
 * "slow|quick TAB thrown class or none TAB message or none TAB dives TAB live handles".
 */
public final class CancelledDownload {
    static final String SLOW_PORT = "stress:ctrl-c";
    static final String QUICK_PORT = "stress:after-ctrl-c";
    static final int QUICK_DIVES = 3;
    /**
     * Twenty dives of ten chunks 25 ms apart: the first dive (and with it the first progress
     * line the parent waits for) after 250 ms, the last after 5 s, time enough for the signal.
     */
    private static final String SLOW_COMPUTER = "serial " + SLOW_PORT + "\n"
                                                + "transfer 10 25\n"
                                                + "generate 20 samples=30\n";
    private static final String QUICK_COMPUTER = "serial " + QUICK_PORT + "\n"
                                                 + "generate " + QUICK_DIVES + " samples=30\n";

    private CancelledDownload() {}

    public static void main(String[] args) {
        DcSim.reset();
        DcSim.attach(SLOW_COMPUTER);
        DcSim.attach(QUICK_COMPUTER);
        report("slow", Download.run(SLOW_PORT, Stress.VENDOR, Stress.PRODUCT));
        report("quick", Download.run(QUICK_PORT, Stress.VENDOR, Stress.PRODUCT));
    }

    private static void report(String download, Download result) {
        Throwable thrown = result.thrown();
        System.out.println(String.join(
            "\t", download, thrown == null ? "none" : thrown.getClass().getName(),
            thrown == null ? "none" : String.valueOf(thrown.getMessage()),
            String.valueOf(result.dives().size()), String.valueOf(DcSim.liveTotal())));
    }
}
