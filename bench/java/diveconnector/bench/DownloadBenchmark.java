package diveconnector.bench;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.testing.DcSim;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryPoolMXBean;
import java.lang.management.MemoryType;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;

/**
 * The whole road of a download through a real JVM, from a dcsim computer with no transfer delay,
 * beside the limit: a pure-Java loop that builds the very same objects from primitive arrays.
 *
 * <p>Figures go to standard error; standard output carries the library's own progress lines.
 */
public final class DownloadBenchmark {
    private static final int SAMPLES = 3600;
    private static final String PORT = "bench";
    private static final String VENDOR = "Bench";
    private static final String PRODUCT = "Computer";
    private static final PrintStream out = System.err;

    private DownloadBenchmark() {}

    public static void main(String[] args) throws Exception {
        int[] logbooks = {400, 2000};
        int[] scaling = {100, 400, 1600};
        int repetitions = 3;
        for (String arg : args) {
            if (arg.equals("--quick")) {
                logbooks = new int[] {100};
                scaling = new int[] {25, 100, 400};
                repetitions = 1;
            }
        }
        DeviceConnector connector = new DeviceConnector();
        out.printf("Samples per dive: %d (time, depth, temperature, pressure each)%n", SAMPLES);
        warmUp(connector);

        out.println();
        out.println("Whole download through the JVM (best of " + repetitions + ")");
        out.printf("%6s %10s %10s %10s %12s %12s %10s %10s %8s%n", "dives", "total ms", "native ms",
                   "convert ms", "native/dive", "ns/value", "java ms", "ratio", "native%");
        for (int dives : logbooks) {
            Figures best = null;
            for (int i = 0; i < repetitions; i++) {
                Figures figures = measure(connector, dives);
                if (best == null || figures.totalNanos < best.totalNanos) {
                    best = figures;
                }
            }
            best.print();
        }

        out.println();
        out.println("Growth: time and memory per dive");
        out.printf("%6s %12s %12s %14s %14s%n", "dives", "ms/dive", "convert/dive", "heap KiB/dive",
                   "peak RSS MiB");
        for (int dives : scaling) {
            Figures figures = measure(connector, dives);
            out.printf("%6d %12.3f %12.3f %14.1f %14.1f%n", dives,
                       figures.totalNanos / 1e6 / dives, figures.conversionNanos() / 1e6 / dives,
                       figures.retainedBytes / 1024.0 / dives, peakRssKib() / 1024.0);
        }

        out.println();
        listingRate(connector);
        out.printf("%nPeak Java heap: %.1f MiB; peak process RSS: %.1f MiB%n",
                   peakHeapBytes() / 1048576.0, peakRssKib() / 1024.0);
    }

    private static void attach(int dives) {
        DcSim.reset();
        DcSim.descriptorsAdd(VENDOR, PRODUCT, 0x10004, 0, 0x01);
        DcSim.attach("serial " + PORT + "\nevents none\ngenerate " + dives + " samples=" + SAMPLES
                     + " tanks=1\n");
    }

    private static void warmUp(DeviceConnector connector) throws NativeException {
        attach(50);
        for (int i = 0; i < 5; i++) {
            TimedSet set = new TimedSet();
            connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, set);
            pureJava(Snapshot.of(set));
        }
    }

    /** Records when the first dive arrives: the native download has ended by then. */
    private static final class TimedSet extends HashSet<Dive> {
        private static final long serialVersionUID = 1;
        long firstAdd;

        @Override
        public boolean add(Dive dive) {
            if (firstAdd == 0) {
                firstAdd = System.nanoTime();
            }
            return super.add(dive);
        }
    }

    private static final class Figures {
        int dives;
        long totalNanos;
        long nativeNanos;
        long javaNanos;
        long retainedBytes;

        long conversionNanos() {
            return totalNanos - nativeNanos;
        }

        void print() {
            double values = (double) dives * SAMPLES * 4;
            out.printf("%6d %10.1f %10.1f %10.1f %10.1fus %12.1f %10.1f %10.2f %7.1f%%%n", dives,
                       totalNanos / 1e6, nativeNanos / 1e6, conversionNanos() / 1e6,
                       nativeNanos / 1e3 / dives, totalNanos / values, javaNanos / 1e6,
                       (double) conversionNanos() / javaNanos, 100.0 * nativeNanos / totalNanos);
        }
    }

    private static Figures measure(DeviceConnector connector, int dives) throws NativeException {
        attach(dives);
        collectGarbage();
        long heapBefore = usedHeap();
        TimedSet set = new TimedSet();
        long start = System.nanoTime();
        Device device = connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, set);
        long end = System.nanoTime();
        if (set.size() != dives || device == null) {
            throw new IllegalStateException("expected " + dives + " dives, got " + set.size());
        }
        collectGarbage();
        Figures figures = new Figures();
        figures.dives = dives;
        figures.totalNanos = end - start;
        figures.nativeNanos = set.firstAdd - start;
        figures.retainedBytes = usedHeap() - heapBefore;

        Snapshot snapshot = Snapshot.of(set);
        set = null;
        collectGarbage();
        figures.javaNanos = pureJava(snapshot);
        return figures;
    }

    /** What the library hands over, as primitive arrays: the input of the pure-Java loop. */
    private static final class Snapshot {
        String vendor;
        String product;
        String serial;
        final List<float[][]> series = new ArrayList<>();
        final List<boolean[][]> present = new ArrayList<>();
        final List<int[]> events = new ArrayList<>();
        final List<int[]> gases = new ArrayList<>();
        final List<int[]> datetimes = new ArrayList<>();
        final List<float[]> fields = new ArrayList<>();

        static Snapshot of(Set<Dive> dives) {
            Snapshot snapshot = new Snapshot();
            for (Dive dive : dives) {
                Device device = dive.getDevice();
                snapshot.vendor = device.getVendor();
                snapshot.product = device.getProduct();
                snapshot.serial = device.getSerial();
                Float[][] boxed = {dive.getTimeProfile(), dive.getDepthProfile(),
                                   dive.getPressureProfile(), dive.getTemperatureProfile()};
                float[][] values = new float[4][];
                boolean[][] here = new boolean[5][];
                for (int s = 0; s < 4; s++) {
                    values[s] = new float[boxed[s].length];
                    here[s] = new boolean[boxed[s].length];
                    for (int i = 0; i < boxed[s].length; i++) {
                        here[s][i] = boxed[s][i] != null;
                        values[s][i] = here[s][i] ? boxed[s][i] : 0f;
                    }
                }
                Integer[] boxedEvents = dive.getEventProfile();
                int[] eventValues = new int[boxedEvents.length];
                here[4] = new boolean[boxedEvents.length];
                for (int i = 0; i < boxedEvents.length; i++) {
                    here[4][i] = boxedEvents[i] != null;
                    eventValues[i] = here[4][i] ? boxedEvents[i] : 0;
                }
                snapshot.series.add(values);
                snapshot.present.add(here);
                snapshot.events.add(eventValues);
                snapshot.gases.add(new int[] {dive.getGas().getOxygen(), dive.getGas().getHelium()});
                String[] parts = dive.getDateTime().split("[- :]");
                int[] datetime = new int[6];
                for (int i = 0; i < 6; i++) {
                    datetime[i] = Integer.parseInt(parts[i]);
                }
                snapshot.datetimes.add(datetime);
                snapshot.fields.add(new float[] {dive.getDiveTime(), dive.getMaxDepth()});
            }
            return snapshot;
        }
    }

    /** Builds the object graph the library builds, from memory; returns the nanoseconds taken. */
    private static long pureJava(Snapshot snapshot) {
        long start = System.nanoTime();
        Device device = new Device(snapshot.vendor, snapshot.product, snapshot.serial);
        Set<Dive> dives = new HashSet<>();
        for (int d = 0; d < snapshot.series.size(); d++) {
            int[] gas = snapshot.gases.get(d);
            Gas mix = Gas.blendGas(gas[0], gas[1]);
            int[] t = snapshot.datetimes.get(d);
            String datetime = String.format("%04d-%02d-%02d %02d:%02d:%02d", t[0], t[1], t[2],
                                            t[3], t[4], t[5]);
            float[] fields = snapshot.fields.get(d);
            Dive dive = new Dive(device, datetime, fields[0], fields[1], null, null, null, mix,
                                 null);
            float[][] values = snapshot.series.get(d);
            boolean[][] here = snapshot.present.get(d);
            int[] eventValues = snapshot.events.get(d);
            int n = values[0].length;
            Float[][] boxed = new Float[4][n];
            Integer[] events = new Integer[n];
            for (int i = 0; i < n; i++) {
                for (int s = 0; s < 4; s++) {
                    boxed[s][i] = here[s][i] ? Float.valueOf(values[s][i]) : null;
                }
                events[i] = here[4][i] ? Integer.valueOf(eventValues[i]) : null;
            }
            dive.setDiveProfileAndUpdate(boxed[0], boxed[1], boxed[2], boxed[3], events);
            dives.add(dive);
        }
        long end = System.nanoTime();
        if (dives.size() != snapshot.series.size()) {
            throw new IllegalStateException("pure-Java loop lost dives");
        }
        return end - start;
    }

    private static void listingRate(DeviceConnector connector) throws Exception {
        DcSim.reset();
        Path table = Paths.get(System.getProperty("diveconnector.fixtures"),
                               "libdivecomputer-0.9.0-descriptors.tsv");
        DcSim.descriptorsLoadTsv(table.toString());
        TreeSet<Device> devices = null;
        for (int i = 0; i < 2000; i++) {
            devices = connector.getSupportedDevices();
        }
        int calls = 20000;
        long start = System.nanoTime();
        for (int i = 0; i < calls; i++) {
            devices = connector.getSupportedDevices();
        }
        long elapsed = System.nanoTime() - start;
        out.printf("getSupportedDevices, real 0.9.0 table (356 models, %d distinct): %.0f calls/s%n",
                   devices.size(), calls / (elapsed / 1e9));
    }

    private static void collectGarbage() {
        for (int i = 0; i < 3; i++) {
            System.gc();
        }
    }

    private static long usedHeap() {
        Runtime runtime = Runtime.getRuntime();
        return runtime.totalMemory() - runtime.freeMemory();
    }

    private static long peakHeapBytes() {
        long peak = 0;
        for (MemoryPoolMXBean pool : ManagementFactory.getMemoryPoolMXBeans()) {
            if (pool.getType() == MemoryType.HEAP) {
                peak += pool.getPeakUsage().getUsed();
            }
        }
        return peak;
    }

    private static long peakRssKib() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmHWM:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        return 0;
    }
}
