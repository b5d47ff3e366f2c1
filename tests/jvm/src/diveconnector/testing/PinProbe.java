package diveconnector.testing;

import brenquill.main.java.core.Dive;

/**
 * Main class of the child JVMs of the pairing tests: downloads several times from a BLE computer
 * that pairs, with a connector that answers its PIN, printing "dives N" after each download and
 * "asked N", how often the PIN was asked, at the end. Arguments: PORT VENDOR PRODUCT FAMILY
 * TRANSPORTS PIN DOWNLOADS; the model's descriptor is added from them.
 */
public final class PinProbe {
    private PinProbe() {}

    public static void main(String[] args) throws Exception {
        DcSim.reset();
        DcSim.descriptorsAdd(args[1], args[2], Integer.parseInt(args[3]), 10,
                             Integer.parseInt(args[4]));
        PinConnector connector = new PinConnector(args[5]);
        int downloads = Integer.parseInt(args[6]);
        for (int i = 0; i < downloads; i++) {
            RecordingSet<Dive> dives = RecordingSet.accepting();
            connector.loadUserDivesFromDevice(args[0], args[1], args[2], dives);
            System.out.println("dives " + dives.added().size());
        }
        System.out.println("asked " + connector.asked.get());
    }
}
