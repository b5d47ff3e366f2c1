package diveconnector.bench;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.Tank;
import java.lang.reflect.Constructor;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * What the dive details cost: a connector that takes them, and the limit their conversion is
 * judged by, a pure-Java loop that builds the same objects from the same primitive arrays.
 */
final class DetailsCost {
    private DetailsCost() {}

    /** Keeps each dive's details, as an application that stores them beside the dive does. */
    public static final class DetailsConnector extends DeviceConnector {
        final List<DiveDetails> details = new ArrayList<>();
        long firstDetails;
        long firstDetailsCpu;

        public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
            if (firstDetails == 0) {
                firstDetails = System.nanoTime();
                firstDetailsCpu = DownloadBenchmark.threadCpu();
            }
            details.add(diveDetails);
        }
    }

    /** One dive's details as the primitive arrays the native library hands to the constructors. */
    private static final class DetailArrays {
        long[] header;
        double[] measures;
        int[] mixCodes;
        double[] mixFractions;
        int[] tankCodes;
        double[] tankValues;
        double[][] doubles;
        int[][] ints;
    }

    /** The inputs of the pure-Java loop, taken from downloaded details. */
    static final class Snapshot {
        final List<DetailArrays> dives = new ArrayList<>();
        long values;

        static Snapshot of(List<DiveDetails> details) {
            Snapshot snapshot = new Snapshot();
            for (DiveDetails d : details) {
                DetailArrays a = new DetailArrays();
                a.header = new long[7];
                Arrays.fill(a.header, Long.MIN_VALUE);
                a.measures = new double[9];
                Arrays.fill(a.measures, Double.NaN);
                List<GasMix> mixes = d.gasMixes();
                a.mixCodes = new int[2 * mixes.size()];
                a.mixFractions = new double[3 * mixes.size()];
                for (int i = 0; i < mixes.size(); i++) {
                    GasMix mix = mixes.get(i);
                    a.mixCodes[2 * i] = mix.index();
                    a.mixCodes[2 * i + 1] = -1;
                    a.mixFractions[3 * i] = mix.oxygen();
                    a.mixFractions[3 * i + 1] = mix.helium();
                    a.mixFractions[3 * i + 2] = mix.nitrogen();
                }
                List<Tank> tanks = d.tanks();
                a.tankCodes = new int[4 * tanks.size()];
                a.tankValues = new double[4 * tanks.size()];
                for (int i = 0; i < tanks.size(); i++) {
                    Tank tank = tanks.get(i);
                    a.tankCodes[4 * i] = tank.index();
                    a.tankCodes[4 * i + 1] = tank.gasMix().orElse(-1);
                    a.tankCodes[4 * i + 2] = tank.volumeType().ordinal();
                    a.tankCodes[4 * i + 3] = -1;
                    a.tankValues[4 * i] = tank.volume();
                    a.tankValues[4 * i + 1] = tank.workPressure();
                    a.tankValues[4 * i + 2] = tank.beginPressure();
                    a.tankValues[4 * i + 3] = tank.endPressure();
                }
                DiveSamples s = d.samples();
                a.doubles = new double[][] {s.times(), s.depths(), s.pressures(),
                                            s.temperatures(), s.setpoints(), s.ppo2(), s.cns(),
                                            s.decoDepths()};
                a.ints = new int[][] {
                    s.depthSamples(), s.pressureSamples(), s.pressureTanks(),
                    s.temperatureSamples(), s.eventSamples(), s.eventTypes(), s.eventTimes(),
                    s.eventFlags(), s.eventValues(), s.remainingBottomTimeSamples(),
                    s.remainingBottomTimes(), s.heartRateSamples(), s.heartRates(),
                    s.bearingSamples(), s.bearings(), s.setpointSamples(), s.ppo2Samples(),
                    s.ppo2Sensors(), s.cnsSamples(), s.decoSamples(), s.decoTypes(),
                    s.decoTimes(), s.decoTimesToSurface(), s.gasSwitchSamples(),
                    s.gasSwitches()};
                for (double[] row : a.doubles) {
                    snapshot.values += row.length;
                }
                snapshot.dives.add(a);
            }
            return snapshot;
        }
    }

    private static final Constructor<DiveDetails> DETAILS;
    private static final Constructor<DiveSamples> SAMPLES;

    static {
        try {
            DETAILS = DiveDetails.class.getDeclaredConstructor(
                long[].class, double[].class, int[].class, double[].class, int[].class,
                double[].class, DiveSamples.class);
            DETAILS.setAccessible(true);
            SAMPLES = DiveSamples.class.getDeclaredConstructor(double[][].class, int[][].class);
            SAMPLES.setAccessible(true);
        } catch (ReflectiveOperationException e) {
            throw new ExceptionInInitializerError(e);
        }
    }

    /**
     * Builds every dive's details from copies of the arrays, as the native side fills new Java
     * arrays from its own lists; returns the thread's CPU nanoseconds taken.
     */
    static long pureJava(Snapshot snapshot) throws ReflectiveOperationException {
        List<DiveDetails> built = new ArrayList<>();
        long start = DownloadBenchmark.threadCpu();
        for (DetailArrays a : snapshot.dives) {
            double[][] doubles = new double[a.doubles.length][];
            for (int i = 0; i < doubles.length; i++) {
                doubles[i] = a.doubles[i].clone();
            }
            int[][] ints = new int[a.ints.length][];
            for (int i = 0; i < ints.length; i++) {
                ints[i] = a.ints[i].clone();
            }
            DiveSamples samples = SAMPLES.newInstance(doubles, ints);
            built.add(DETAILS.newInstance(a.header.clone(), a.measures.clone(),
                                          a.mixCodes.clone(), a.mixFractions.clone(),
                                          a.tankCodes.clone(), a.tankValues.clone(), samples));
        }
        long end = DownloadBenchmark.threadCpu();
        if (built.size() != snapshot.dives.size()) {
            throw new IllegalStateException("pure-Java loop lost details");
        }
        return end - start;
    }
}
