package diveconnector.details;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Optional;
import java.util.OptionalDouble;
import java.util.OptionalInt;

/**
 * Everything the dive computer recorded about one dive beyond the application's {@code Dive}:
 * the other header fields, every gas mix and tank, and every sample kind. Immutable.
 *
 * <p>A connector receives it by declaring
 * {@code public void onDiveDetails(brenquill.main.java.core.Dive dive, DiveDetails details)}:
 * the library then calls it on the downloading thread for each dive, right before the dive goes
 * into the download's set, and a connector without that method pays nothing. The method throwing
 * ends the download with a {@code NativeException} saying the application's event handler
 * failed; the dives already in the set stay there.
 *
 * <p>A field the computer does not give is empty, never zero; a measurement it gives as NaN
 * (corrupt data) counts as not given. So is a field that fails to parse (a gas mix or a tank by
 * itself): the dive still arrives as it would without the details, and the support log
 * ({@code diveconnector.log}) names the dive, the field and libdivecomputer's status. The samples
 * come from the walk that makes the dive's own series, whose failure fails the download.
 */
public final class DiveDetails {
    /** Whether the dive was in fresh or salt water. */
    public enum Water {
        FRESH,
        SALT,
        /** A kind this version of the library does not know. */
        UNKNOWN
    }

    private static final long ABSENT = Long.MIN_VALUE;

    private final long timezone;
    private final long diveMode;
    private final DecoModel decoModel;
    private final long water;
    private final double[] measures;
    private final Location location;
    private final List<GasMix> gasMixes;
    private final List<Tank> tanks;
    private final DiveSamples samples;

    // The native library's layout: header = time zone, dive mode, deco model type, conservatism,
    // low and high gradient factors, water (Long.MIN_VALUE where absent); measures = average
    // depth, atmospheric pressure, surface, minimum and maximum temperature, water density,
    // latitude, longitude, altitude (NaN where absent); per mix mixCodes = index, usage (-1:
    // none) and mixFractions = oxygen, helium, nitrogen; per tank tankCodes = index, gas mix,
    // volume type, usage (-1: none) and tankValues = volume, work, begin and end pressure.
    DiveDetails(long[] header, double[] measures, int[] mixCodes, double[] mixFractions,
                int[] tankCodes, double[] tankValues, DiveSamples samples) {
        timezone = header[0];
        diveMode = header[1];
        decoModel =
            header[2] == ABSENT ? null : new DecoModel(header[2], header[3], header[4], header[5]);
        water = header[6];
        this.measures = measures;
        location = Double.isNaN(measures[6])
            ? null
            : new Location(measures[6], measures[7], Double.isNaN(measures[8]) ? 0 : measures[8]);
        List<GasMix> mixes = new ArrayList<>();
        for (int i = 0; i < mixCodes.length / 2; i++) {
            mixes.add(new GasMix(mixCodes[2 * i], mixFractions[3 * i], mixFractions[3 * i + 1],
                                 mixFractions[3 * i + 2], mixCodes[2 * i + 1]));
        }
        gasMixes = Collections.unmodifiableList(mixes);
        List<Tank> tankList = new ArrayList<>();
        for (int i = 0; i < tankCodes.length / 4; i++) {
            tankList.add(new Tank(tankCodes[4 * i], tankCodes[4 * i + 1], tankCodes[4 * i + 2],
                                  tankCodes[4 * i + 3], tankValues[4 * i], tankValues[4 * i + 1],
                                  tankValues[4 * i + 2], tankValues[4 * i + 3]));
        }
        tanks = Collections.unmodifiableList(tankList);
        this.samples = samples;
    }

    private OptionalDouble measure(int index) {
        return Double.isNaN(measures[index]) ? OptionalDouble.empty()
                                             : OptionalDouble.of(measures[index]);
    }

    /** The offset of the dive's local time from UTC in seconds, when the computer gives it. */
    public OptionalInt timezoneOffset() {
        return timezone == ABSENT ? OptionalInt.empty() : OptionalInt.of((int) timezone);
    }

    public Optional<DiveMode> diveMode() {
        return diveMode == ABSENT ? Optional.empty() : Optional.of(DiveMode.of(diveMode));
    }

    public Optional<DecoModel> decoModel() {
        return Optional.ofNullable(decoModel);
    }

    public Optional<Water> water() {
        if (water == ABSENT) {
            return Optional.empty();
        }
        return Optional.of(water >= 0 && water < Water.UNKNOWN.ordinal()
                               ? Water.values()[(int) water]
                               : Water.UNKNOWN);
    }

    /** The water density the computer assumed, kg/m³. */
    public OptionalDouble density() {
        return measure(5);
    }

    /** Metres. */
    public OptionalDouble averageDepth() {
        return measure(0);
    }

    /** The surface's air pressure, bar. */
    public OptionalDouble atmosphericPressure() {
        return measure(1);
    }

    /** Degrees Celsius. */
    public OptionalDouble surfaceTemperature() {
        return measure(2);
    }

    /** Degrees Celsius: the coldest water of the dive. */
    public OptionalDouble minimumTemperature() {
        return measure(3);
    }

    /** Degrees Celsius: the warmest water of the dive. */
    public OptionalDouble maximumTemperature() {
        return measure(4);
    }

    /** From libdivecomputer 0.9 on. */
    public Optional<Location> location() {
        return Optional.ofNullable(location);
    }

    /** Every gas mix the computer reports, by index; one it does not report is left out. */
    public List<GasMix> gasMixes() {
        return gasMixes;
    }

    /** Every tank the computer reports, by index; one it does not report is left out. */
    public List<Tank> tanks() {
        return tanks;
    }

    public DiveSamples samples() {
        return samples;
    }
}
