package diveconnector.details;

/**
 * Every sample value of one dive, as the computer recorded it. Immutable: each method returns a
 * fresh copy.
 *
 * <p>{@link #times()} holds one entry per time sample, in seconds. Every other kind is a list of
 * values in recorded order, given as parallel arrays of one length: its {@code ...Samples()}
 * array holds, for each value, the index into {@link #times()} of the time sample it belongs to,
 * so a kind recorded twice at one time sample (two events, two tanks' pressures, several ppO2
 * sensors) has two entries there. A kind the computer did not record has empty arrays.
 *
 * <p>Unsigned 32-bit numbers (event fields, times, bearings) are held in an {@code int}; read
 * them with {@link Integer#toUnsignedLong}. An absent value inside a present one is marked
 * {@link #ABSENT} (-1): the sensor of a ppO2 value not tied to one sensor, the time to surface
 * of a decompression status from libdivecomputer before 0.9.
 */
public final class DiveSamples {
    /** Marks a value the computer did not give, in {@link #ppo2Sensors()} and {@link #decoTimesToSurface()}. */
    public static final int ABSENT = -1;

    /** {@link #decoTypes()}: no stop needed; the time is the no-decompression limit. */
    public static final int DECO_NDL = 0;
    /** {@link #decoTypes()}: a safety stop. */
    public static final int DECO_SAFETY_STOP = 1;
    /** {@link #decoTypes()}: a decompression stop; depth and time are the ceiling and stop time. */
    public static final int DECO_STOP = 2;
    /** {@link #decoTypes()}: a deep stop. */
    public static final int DECO_DEEP_STOP = 3;

    /** {@link #eventFlags()}: the event's begin. */
    public static final int EVENT_BEGIN = 1;
    /** {@link #eventFlags()}: the event's end. */
    public static final int EVENT_END = 2;

    private final double[] times;
    private final int[] depthSamples;
    private final double[] depths;
    private final int[] pressureSamples;
    private final int[] pressureTanks;
    private final double[] pressures;
    private final int[] temperatureSamples;
    private final double[] temperatures;
    private final int[] eventSamples;
    private final int[] eventTypes;
    private final int[] eventTimes;
    private final int[] eventFlags;
    private final int[] eventValues;
    private final int[] remainingBottomTimeSamples;
    private final int[] remainingBottomTimes;
    private final int[] heartRateSamples;
    private final int[] heartRates;
    private final int[] bearingSamples;
    private final int[] bearings;
    private final int[] setpointSamples;
    private final double[] setpoints;
    private final int[] ppo2Samples;
    private final int[] ppo2Sensors;
    private final double[] ppo2;
    private final int[] cnsSamples;
    private final double[] cns;
    private final int[] decoSamples;
    private final int[] decoTypes;
    private final int[] decoTimes;
    private final double[] decoDepths;
    private final int[] decoTimesToSurface;
    private final int[] gasSwitchSamples;
    private final int[] gasSwitches;

    // The native library passes its arrays in this order: doubles = times, depths, pressures,
    // temperatures, setpoints, ppo2, cns, decoDepths; ints = depthSamples, pressureSamples,
    // pressureTanks, temperatureSamples, eventSamples, eventTypes, eventTimes, eventFlags,
    // eventValues, remainingBottomTimeSamples, remainingBottomTimes, heartRateSamples,
    // heartRates, bearingSamples, bearings, setpointSamples, ppo2Samples, ppo2Sensors,
    // cnsSamples, decoSamples, decoTypes, decoTimes, decoTimesToSurface, gasSwitchSamples,
    // gasSwitches.
    DiveSamples(double[][] doubles, int[][] ints) {
        times = doubles[0];
        depths = doubles[1];
        pressures = doubles[2];
        temperatures = doubles[3];
        setpoints = doubles[4];
        ppo2 = doubles[5];
        cns = doubles[6];
        decoDepths = doubles[7];
        depthSamples = ints[0];
        pressureSamples = ints[1];
        pressureTanks = ints[2];
        temperatureSamples = ints[3];
        eventSamples = ints[4];
        eventTypes = ints[5];
        eventTimes = ints[6];
        eventFlags = ints[7];
        eventValues = ints[8];
        remainingBottomTimeSamples = ints[9];
        remainingBottomTimes = ints[10];
        heartRateSamples = ints[11];
        heartRates = ints[12];
        bearingSamples = ints[13];
        bearings = ints[14];
        setpointSamples = ints[15];
        ppo2Samples = ints[16];
        ppo2Sensors = ints[17];
        cnsSamples = ints[18];
        decoSamples = ints[19];
        decoTypes = ints[20];
        decoTimes = ints[21];
        decoTimesToSurface = ints[22];
        gasSwitchSamples = ints[23];
        gasSwitches = ints[24];
    }

    /** The time of each time sample from the dive's start, in seconds. */
    public double[] times() {
        return times.clone();
    }

    public int[] depthSamples() {
        return depthSamples.clone();
    }

    /** Metres. */
    public double[] depths() {
        return depths.clone();
    }

    public int[] pressureSamples() {
        return pressureSamples.clone();
    }

    /** The {@link Tank#index()} each pressure belongs to. */
    public int[] pressureTanks() {
        return pressureTanks.clone();
    }

    /** Bar. */
    public double[] pressures() {
        return pressures.clone();
    }

    public int[] temperatureSamples() {
        return temperatureSamples.clone();
    }

    /** Degrees Celsius. */
    public double[] temperatures() {
        return temperatures.clone();
    }

    public int[] eventSamples() {
        return eventSamples.clone();
    }

    /** libdivecomputer's event numbers (1 deco stop, 2 RBT, 3 ascent, 8 bookmark, ...). */
    public int[] eventTypes() {
        return eventTypes.clone();
    }

    /** The event's own time, as the backend gives it. */
    public int[] eventTimes() {
        return eventTimes.clone();
    }

    /** {@link #EVENT_BEGIN}, {@link #EVENT_END}, both or neither, and any bits beyond. */
    public int[] eventFlags() {
        return eventFlags.clone();
    }

    /** The event's value, its meaning depending on the type. */
    public int[] eventValues() {
        return eventValues.clone();
    }

    public int[] remainingBottomTimeSamples() {
        return remainingBottomTimeSamples.clone();
    }

    /** Minutes. */
    public int[] remainingBottomTimes() {
        return remainingBottomTimes.clone();
    }

    public int[] heartRateSamples() {
        return heartRateSamples.clone();
    }

    /** Beats per minute. */
    public int[] heartRates() {
        return heartRates.clone();
    }

    public int[] bearingSamples() {
        return bearingSamples.clone();
    }

    /** Degrees. */
    public int[] bearings() {
        return bearings.clone();
    }

    public int[] setpointSamples() {
        return setpointSamples.clone();
    }

    /** The rebreather's ppO2 setpoint, bar. */
    public double[] setpoints() {
        return setpoints.clone();
    }

    public int[] ppo2Samples() {
        return ppo2Samples.clone();
    }

    /** The sensor of each ppO2 value, or {@link #ABSENT}. */
    public int[] ppo2Sensors() {
        return ppo2Sensors.clone();
    }

    /** Bar. */
    public double[] ppo2() {
        return ppo2.clone();
    }

    public int[] cnsSamples() {
        return cnsSamples.clone();
    }

    /** The CNS oxygen toxicity as a fraction: 1.0 is 100 %. */
    public double[] cns() {
        return cns.clone();
    }

    public int[] decoSamples() {
        return decoSamples.clone();
    }

    /** {@link #DECO_NDL}, {@link #DECO_SAFETY_STOP}, {@link #DECO_STOP} or {@link #DECO_DEEP_STOP}. */
    public int[] decoTypes() {
        return decoTypes.clone();
    }

    /** Seconds: the no-decompression limit, or the stop's time. */
    public int[] decoTimes() {
        return decoTimes.clone();
    }

    /** Metres: the stop's depth (the ceiling), 0 for a no-decompression limit. */
    public double[] decoDepths() {
        return decoDepths.clone();
    }

    /** Seconds to the surface, or {@link #ABSENT}. */
    public int[] decoTimesToSurface() {
        return decoTimesToSurface.clone();
    }

    public int[] gasSwitchSamples() {
        return gasSwitchSamples.clone();
    }

    /** The {@link GasMix#index()} switched to. */
    public int[] gasSwitches() {
        return gasSwitches.clone();
    }
}
