package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;

/**
 * Main class of the child JVMs of the download tests: runs one loadUserDivesFromDevice and prints
 * its {@link DownloadOutcome} line. Arguments: {@code [--version MAJOR.MINOR.MICRO] PORT}, or
 * {@code --nulls} for a call with nothing but null arguments. It catches only Throwable and names
 * Dive only for the dives it received, so it runs on any class variant.
 */
public final class DownloadProbe {
    private DownloadProbe() {}

    public static void main(String[] args) {
        DcSim.reset();
        String port = null;
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--version") && i + 1 < args.length) {
                String[] parts = args[++i].split("\\.");
                DcSim.setVersion(Integer.parseInt(parts[0]), Integer.parseInt(parts[1]),
                                 Integer.parseInt(parts[2]));
            } else if (args[i].equals("--nulls")) {
                port = null;
            } else {
                port = args[i];
            }
        }
        RecordingSet<Dive> dives = RecordingSet.accepting();
        Object result = null;
        Throwable thrown = null;
        try {
            DeviceConnector connector = new DeviceConnector();
            result = port == null
                         ? connector.loadUserDivesFromDevice(null, null, null, null)
                         : connector.loadUserDivesFromDevice(port, Downloads.VENDOR,
                                                             Downloads.PRODUCT, dives);
        } catch (Throwable e) {
            thrown = e;
        }
        System.out.println(DownloadOutcome.of(result, thrown, dives).format());
    }
}
