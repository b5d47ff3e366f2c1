package diveconnector.details;

import java.util.Optional;
import java.util.OptionalInt;

/** One tank the dive used. Immutable; volumes in litres, pressures in bar. */
public final class Tank {
    /**
     * How the computer gave the tank's size; {@link #volume()} is the water capacity in litres
     * whichever it was.
     */
    public enum VolumeType {
        /** No size given: volume and working pressure are 0. */
        NONE,
        /** Given as water capacity; the working pressure may be 0. */
        METRIC,
        /**
         * Given as air capacity at working pressure, converted: the air capacity is
         * {@code volume() * workPressure() / 1.01325}.
         */
        IMPERIAL,
        /** A type this version of the library does not know. */
        UNKNOWN
    }

    private final int index;
    private final int gasMix;
    private final VolumeType volumeType;
    private final double volume;
    private final double workPressure;
    private final double beginPressure;
    private final double endPressure;
    private final GasUsage usage;

    Tank(int index, int gasMix, int volumeType, int usage, double volume, double workPressure,
         double beginPressure, double endPressure) {
        this.index = index;
        this.gasMix = gasMix;
        this.volumeType = volumeType >= 0 && volumeType < VolumeType.UNKNOWN.ordinal()
            ? VolumeType.values()[volumeType]
            : VolumeType.UNKNOWN;
        this.usage = usage < 0 ? null : GasUsage.of(usage);
        this.volume = volume;
        this.workPressure = workPressure;
        this.beginPressure = beginPressure;
        this.endPressure = endPressure;
    }

    /** The tank's number, as the tank pressure samples name it. */
    public int index() {
        return index;
    }

    /** The {@link GasMix#index()} of its gas; empty when the computer does not say. */
    public OptionalInt gasMix() {
        return gasMix < 0 ? OptionalInt.empty() : OptionalInt.of(gasMix);
    }

    public VolumeType volumeType() {
        return volumeType;
    }

    /** The water capacity, litres. */
    public double volume() {
        return volume;
    }

    public double workPressure() {
        return workPressure;
    }

    public double beginPressure() {
        return beginPressure;
    }

    public double endPressure() {
        return endPressure;
    }

    /** Whose gas it is; empty with libdivecomputer before 0.9, which does not say. */
    public Optional<GasUsage> usage() {
        return Optional.ofNullable(usage);
    }
}
