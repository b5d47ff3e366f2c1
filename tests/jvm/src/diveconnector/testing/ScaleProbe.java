package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryMXBean;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * Main class of the child JVMs of the scale tests. {@code large} downloads one computer with
 * thousands of long dives and prints a summary line; {@code repeat} downloads a mid-size computer
 * again and again and prints, after each round, the process's resident memory and the Java heap
 * in use after a full collection.
 */
public final class ScaleProbe {
    public static final int LARGE_DIVES = 2000;
    public static final int LARGE_SAMPLES = 3600;
    public static final int ROUNDS = 10;
    public static final int ROUND_DIVES = 400;
    private static final String PORT = "sim:scale";

    private ScaleProbe() {}

    public static void main(String[] args) throws Exception {
        DcSim.reset();
        switch (args.length == 1 ? args[0] : "") {
            case "large":
                large();
                break;
            case "repeat":
                repeat();
                break;
            default:
                throw new IllegalArgumentException("usage: ScaleProbe large|repeat");
        }
    }

    private static RecordingSet<Dive> download() throws NativeException {
        RecordingSet<Dive> dives = RecordingSet.accepting();
        new DeviceConnector().loadUserDivesFromDevice(PORT, Downloads.VENDOR, Downloads.PRODUCT,
                                                     dives);
        return dives;
    }

    private static void large() throws NativeException {
        DcSim.attach("serial " + PORT + "\ngenerate " + LARGE_DIVES + " samples=" + LARGE_SAMPLES);
        RecordingSet<Dive> dives = download();
        int fewest = Integer.MAX_VALUE;
        int most = 0;
        long emptyEntries = 0;
        for (Dive dive : dives) {
            fewest = Math.min(fewest, dive.getSampleCount());
            most = Math.max(most, dive.getSampleCount());
            for (Float[] series : new Float[][] {dive.getTimeProfile(), dive.getDepthProfile(),
                                                 dive.getPressureProfile(),
                                                 dive.getTemperatureProfile()}) {
                for (Float value : series) {
                    if (value == null) {
                        emptyEntries++;
                    }
                }
            }
        }
        System.out.println("large\t" + dives.size() + "\t" + fewest + "\t" + most + "\t"
                           + emptyEntries + "\t" + DcSim.liveTotal());
    }

    private static void repeat() throws NativeException, IOException, InterruptedException {
        DcSim.attach("serial " + PORT + "\ngenerate " + ROUND_DIVES + " samples=720 tanks=2");
        MemoryMXBean memory = ManagementFactory.getMemoryMXBean();
        for (int round = 1; round <= ROUNDS; round++) {
            int dives = download().size();
            System.gc();
            System.gc();
            System.out.println("round\t" + round + "\t" + dives + "\t" + residentKilobytes() + "\t"
                               + memory.getHeapMemoryUsage().getUsed() / 1024 + "\t"
                               + DcSim.liveTotal());
        }
    }

    /** VmRSS of /proc/self/status, in kB. */
    private static long residentKilobytes() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }
}
