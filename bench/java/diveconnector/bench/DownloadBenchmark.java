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
 * beside the limit: a pure-Java loop that builds the very same objects from primitive arrays;
 * then a connector that takes the dive details beside one that does not.
 *
 * <p>Arguments: {@code --quick} runs small logbooks only; {@code --details} only the details'
 * comparison; {@code --plain DIVES ROUNDS} only the best time of a connector without the
 * details, to set beside an older build of the library; {@code --logbook DIVES SAMPLES TANKS}
 * downloads one logbook with and without the details and reports the heap it keeps (run it with
 * a small {@code -Xmx}).
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
        int detailDives = 400;
        int detailRounds = 6;
        boolean detailsOnly = false;
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--quick":
                    logbooks = new int[] {100};
                    scaling = new int[] {25, 100, 400};
                    repetitions = 1;
                    detailDives = 100;
                    detailRounds = 2;
                    break;
                case "--details":
                    detailsOnly = true;
                    break;
                case "--plain":
                    plainOnly(Integer.parseInt(args[i + 1]), Integer.parseInt(args[i + 2]));
                    return;
                case "--logbook":
                    logbook(Integer.parseInt(args[i + 1]), Integer.parseInt(args[i + 2]),
                            Integer.parseInt(args[i + 3]));
                    return;
                default:
                    break;
            }
        }
        DeviceConnector connector = new DeviceConnector();
        out.printf("Samples per dive: %d (time, depth, temperature, pressure each)%n", SAMPLES);
        warmUp(connector);
        if (detailsOnly) {
            detailsCost(connector, detailDives, detailRounds);
            return;
        }

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
        detailsCost(connector, detailDives, detailRounds);

        out.println();
        listingRate(connector);
        out.printf("%nPeak Java heap: %.1f MiB; peak process RSS: %.1f MiB%n",
                   peakHeapBytes() / 1048576.0, peakRssKib() / 1024.0);
    }

    private static void attach(int dives) {
        attach(dives, SAMPLES, 1);
    }

    private static void attach(int dives, int samples, int tanks) {
        DcSim.reset();
        DcSim.descriptorsAdd(VENDOR, PRODUCT, 0x10004, 0, 0x01);
        DcSim.attach("serial " + PORT + "\nevents none\ngenerate " + dives + " samples=" + samples
                     + " tanks=" + tanks + "\n");
    }

    private static void warmUp(DeviceConnector connector) throws Exception {
        attach(50);
        DetailsCost.DetailsConnector detailed = new DetailsCost.DetailsConnector();
        for (int i = 0; i < 5; i++) {
            TimedSet set = new TimedSet();
            connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, set);
            pureJava(Snapshot.of(set));
            detailed.details.clear();
            detailed.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, new TimedSet());
            DetailsCost.pureJava(DetailsCost.Snapshot.of(detailed.details));
        }
    }

    /**
     * The same logbook through a connector without onDiveDetails and one with it, in alternate
     * order round after round, so that the machine's changing load falls on both alike. Times are
     * the downloading thread's CPU time; the ratio of wall times is printed beside.
     */
    private static void detailsCost(DeviceConnector plain, int dives, int rounds)
        throws Exception {
        out.printf("Dive details: %d dives, a connector with onDiveDetails beside one without, "
                   + "%d interleaved rounds after one of each unmeasured%n", dives, rounds);
        out.printf("%5s %9s %9s %7s %7s %12s %13s %10s %9s %9s %10s %10s%n", "round", "plain ms",
                   "detail ms", "ratio", "wall", "native+/dive", "convert+/dive", "ns+/value",
                   "pure ms", "conv/pure", "KiB/dive", "KiB+/dive");
        measure(plain, dives);
        measure(new DetailsCost.DetailsConnector(), dives);
        List<Double> ratios = new ArrayList<>();
        List<Double> wallRatios = new ArrayList<>();
        List<Double> conversionRatios = new ArrayList<>();
        List<Double> nativeExtras = new ArrayList<>();
        List<Double> conversionExtras = new ArrayList<>();
        long values = 0;
        for (int round = 0; round < rounds; round++) {
            DetailsCost.DetailsConnector detailed = new DetailsCost.DetailsConnector();
            Figures without;
            Figures with;
            if (round % 2 == 0) {
                without = measure(plain, dives);
                with = measure(detailed, dives);
            } else {
                with = measure(detailed, dives);
                without = measure(plain, dives);
            }
            DetailsCost.Snapshot snapshot = DetailsCost.Snapshot.of(detailed.details);
            detailed = null;
            collectGarbage();
            long pure = DetailsCost.pureJava(snapshot);
            values = snapshot.values;
            double ratio = (double) with.totalCpu / without.totalCpu;
            double nativeExtra = (with.nativeCpu - without.nativeCpu) / 1e3 / dives;
            long extraConversion =
                (with.totalCpu - with.nativeCpu) - (without.totalCpu - without.nativeCpu);
            double conversionRatio = (double) extraConversion / pure;
            ratios.add(ratio);
            wallRatios.add((double) with.totalNanos / without.totalNanos);
            conversionRatios.add(conversionRatio);
            nativeExtras.add(nativeExtra);
            conversionExtras.add(extraConversion / 1e3 / dives);
            out.printf("%5d %9.1f %9.1f %7.3f %7.3f %10.1fus %11.1fus %10.1f %9.1f %9.2f %10.1f "
                       + "%10.1f%n",
                       round + 1, without.totalCpu / 1e6, with.totalCpu / 1e6, ratio,
                       wallRatios.get(round), nativeExtra, extraConversion / 1e3 / dives,
                       (double) (with.totalCpu - without.totalCpu) / snapshot.values, pure / 1e6,
                       conversionRatio, without.retainedBytes / 1024.0 / dives,
                       (with.retainedBytes - without.retainedBytes) / 1024.0 / dives);
        }
        out.printf("Median: with/without %.3f (wall %.3f); native +%.1f us and conversion +%.1f us "
                   + "per dive; extra conversion / pure Java %.2f; %d detail values per dive%n",
                   median(ratios), median(wallRatios), median(nativeExtras),
                   median(conversionExtras), median(conversionRatios), values / dives);
    }

    /** The best of `rounds` downloads through a connector without onDiveDetails. */
    private static void plainOnly(int dives, int rounds) throws Exception {
        DeviceConnector connector = new DeviceConnector();
        warmUp(connector);
        measure(connector, dives);
        long best = Long.MAX_VALUE;
        long bestCpu = Long.MAX_VALUE;
        for (int i = 0; i < rounds; i++) {
            Figures figures = measure(connector, dives);
            best = Math.min(best, figures.totalNanos);
            bestCpu = Math.min(bestCpu, figures.totalCpu);
        }
        out.printf("plain: %d dives, best of %d: %.1f ms wall, %.1f ms CPU, %.1f us CPU per dive%n",
                   dives, rounds, best / 1e6, bestCpu / 1e6, bestCpu / 1e3 / dives);
    }

    /**
     * One logbook through a connector without the details and one with them, each kept whole as
     * an application keeps it, and how much of the heap it takes.
     */
    private static void logbook(int dives, int samples, int tanks) throws Exception {
        long maxHeap = Runtime.getRuntime().maxMemory();
        long physical = ((com.sun.management.OperatingSystemMXBean)
                             ManagementFactory.getOperatingSystemMXBean()).getTotalMemorySize();
        out.printf("Logbook: %d dives of %d time samples, %d tank(s); max heap %.0f MiB; "
                   + "physical memory %.1f GiB, whose quarter (the default max heap) is "
                   + "%.0f MiB%n",
                   dives, samples, tanks, maxHeap / 1048576.0, physical / 1073741824.0,
                   physical / 4 / 1048576.0);
        attach(dives, samples, tanks);
        collectGarbage();
        long before = usedHeap();
        Set<Dive> plainDives = new HashSet<>();
        new DeviceConnector().loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, plainDives);
        collectGarbage();
        long plainBytes = usedHeap() - before;
        check(plainDives.size(), dives);
        plainDives = null;

        attach(dives, samples, tanks);
        collectGarbage();
        before = usedHeap();
        Set<Dive> detailedDives = new HashSet<>();
        DetailsCost.DetailsConnector connector = new DetailsCost.DetailsConnector();
        long start = System.nanoTime();
        connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, detailedDives);
        long elapsed = System.nanoTime() - start;
        collectGarbage();
        long detailedBytes = usedHeap() - before;
        check(detailedDives.size(), dives);
        check(connector.details.size(), dives);
        out.printf("without details: %.1f MiB kept, %.1f KiB per dive%n", plainBytes / 1048576.0,
                   plainBytes / 1024.0 / dives);
        out.printf("with details:    %.1f MiB kept, %.1f KiB per dive (%.1f KiB of details), "
                   + "downloaded in %.0f ms%n",
                   detailedBytes / 1048576.0, detailedBytes / 1024.0 / dives,
                   (detailedBytes - plainBytes) / 1024.0 / dives, elapsed / 1e6);
        out.printf("share of this heap: %.1f %%; of an 8 GiB desktop's default 2048 MiB: %.1f %%; "
                   + "peak heap during the run %.1f MiB, peak process RSS %.1f MiB%n",
                   100.0 * detailedBytes / maxHeap, 100.0 * detailedBytes / (2048.0 * 1048576),
                   peakHeapBytes() / 1048576.0, peakRssKib() / 1024.0);
    }

    private static void check(int actual, int expected) {
        if (actual != expected) {
            throw new IllegalStateException("expected " + expected + ", got " + actual);
        }
    }

    private static double median(List<Double> values) {
        List<Double> sorted = new ArrayList<>(values);
        sorted.sort(null);
        int n = sorted.size();
        return n % 2 == 1 ? sorted.get(n / 2) : (sorted.get(n / 2 - 1) + sorted.get(n / 2)) / 2;
    }

    /** Records when the first dive arrives: the native download has ended by then. */
    private static final class TimedSet extends HashSet<Dive> {
        private static final long serialVersionUID = 1;
        long firstAdd;
        long firstAddCpu;

        @Override
        public boolean add(Dive dive) {
            if (firstAdd == 0) {
                firstAdd = System.nanoTime();
                firstAddCpu = threadCpu();
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
        // The downloading thread's CPU time: what the machine's other load disturbs least.
        long totalCpu;
        long nativeCpu;

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
        long startCpu = threadCpu();
        long start = System.nanoTime();
        Device device = connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, set);
        long end = System.nanoTime();
        long endCpu = threadCpu();
        if (set.size() != dives || device == null) {
            throw new IllegalStateException("expected " + dives + " dives, got " + set.size());
        }
        collectGarbage();
        Figures figures = new Figures();
        figures.dives = dives;
        figures.totalNanos = end - start;
        // The native download has ended when the first dive, or its details, arrives.
        long firstArrival = set.firstAdd;
        long firstArrivalCpu = set.firstAddCpu;
        if (connector instanceof DetailsCost.DetailsConnector) {
            firstArrival = ((DetailsCost.DetailsConnector) connector).firstDetails;
            firstArrivalCpu = ((DetailsCost.DetailsConnector) connector).firstDetailsCpu;
        }
        figures.nativeNanos = firstArrival - start;
        figures.totalCpu = endCpu - startCpu;
        figures.nativeCpu = firstArrivalCpu - startCpu;
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

    static long threadCpu() {
        return ManagementFactory.getThreadMXBean().getCurrentThreadCpuTime();
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
