package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import diveconnector.details.DecoModel;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.Location;
import diveconnector.details.Tank;
import java.io.IOException;
import java.io.Writer;
import java.math.BigDecimal;
import java.math.MathContext;
import java.math.RoundingMode;
import java.time.DateTimeException;
import java.time.LocalDateTime;
import java.util.Locale;
import java.util.Optional;
import java.util.OptionalDouble;
import java.util.OptionalInt;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A download as JSON (RFC 8259, UTF-8): the format's version, the port, the device and every dive
 * with its whole profile and, after the keys of the first format, everything else its computer
 * recorded. Profile series run in parallel, entry i of each belonging to sample i; null is a value
 * the sample did not carry. A float is written as the shortest decimal that reads back as the
 * very same float even when read as a double first, as JSON readers do, a double as
 * Double.toString gives it, which reads back as the same double; NaN and the infinities, which
 * JSON numbers cannot express, are written as the strings "NaN", "Infinity" and "-Infinity".
 *
 * <p>Version 2 only adds keys: a reader of the first format, which had no version, reads on
 * unchanged. A detail the computer did not give is null, never left out and never zero. The
 * README lists every key.
 */
final class DiveJson {
    /** Raised whenever a key changes meaning or goes; adding keys keeps readers working too. */
    static final int FORMAT_VERSION = 2;

    // libdivecomputer's SAMPLE_EVENT_* types by number, named as its header names them.
    private static final String[] EVENT_NAMES = {
        "none", "decostop", "rbt", "ascent", "ceiling", "workload", "transmitter", "violation",
        "bookmark", "surface", "safetystop", "gaschange", "safetystop_voluntary",
        "safetystop_mandatory", "deepstop", "ceiling_safetystop", "floor", "divetime", "maxdepth",
        "olf", "po2", "airtime", "rgbm", "heading", "tissuelevel", "gaschange2"};
    // libdivecomputer's DC_DECO_* kinds, by DiveSamples.DECO_* number.
    private static final String[] DECO_NAMES = {"ndl", "safetystop", "decostop", "deepstop"};
    private static final Pattern DATE_TIME =
        Pattern.compile("(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})");
    private static final int SECONDS_PER_MINUTE = 60;
    private static final int SECONDS_PER_HOUR = 3600;

    private final Writer out;

    private DiveJson(Writer out) {
        this.out = out;
    }

    static void write(Writer out, String port, Device device, Iterable<DownloadedDive> dives)
        throws IOException {
        new DiveJson(out).document(port, device, dives);
    }

    /** libdivecomputer's name of an event type; empty for a type it does not define. */
    static Optional<String> eventName(int type) {
        return type >= 0 && type < EVENT_NAMES.length ? Optional.of(EVENT_NAMES[type])
                                                      : Optional.empty();
    }

    /**
     * The dive's start in ISO 8601, "2024-06-01T10:00:00-03:30", with the offset from UTC when
     * the computer gives one and as local time without; empty when the date and time is no real
     * one (the computer's clock was not set, or its data is corrupt).
     */
    static Optional<String> isoDateTime(String dateTime, OptionalInt offsetSeconds) {
        Matcher matcher = DATE_TIME.matcher(dateTime);
        if (!matcher.matches()) {
            return Optional.empty();
        }
        try {
            LocalDateTime.of(Integer.parseInt(matcher.group(1)),
                             Integer.parseInt(matcher.group(2)),
                             Integer.parseInt(matcher.group(3)),
                             Integer.parseInt(matcher.group(4)),
                             Integer.parseInt(matcher.group(5)),
                             Integer.parseInt(matcher.group(6)));
        } catch (DateTimeException e) {
            return Optional.empty();
        }
        String iso = dateTime.replace(' ', 'T');
        if (offsetSeconds.isEmpty()) {
            return Optional.of(iso);
        }
        long offset = offsetSeconds.getAsInt();
        long magnitude = Math.abs(offset);
        String zone = String.format(Locale.ROOT, "%s%02d:%02d", offset < 0 ? "-" : "+",
                                    magnitude / SECONDS_PER_HOUR,
                                    magnitude % SECONDS_PER_HOUR / SECONDS_PER_MINUTE);
        if (magnitude % SECONDS_PER_MINUTE != 0) {
            zone += String.format(Locale.ROOT, ":%02d", magnitude % SECONDS_PER_MINUTE);
        }
        return Optional.of(iso + zone);
    }

    /**
     * A finite float as a JSON number. Float.toString is short and exact when read as a float,
     * but a reader that parses a double and rounds it to float can land on the neighbouring float
     * (0x15ae43fd is one); those few get the shortest decimal that survives both roundings.
     */
    static String decimal(float value) {
        String text = Float.toString(value);
        if ((float) Double.parseDouble(text) == value) {
            return text;
        }
        BigDecimal exact = new BigDecimal((double) value);
        for (int digits = 1;; digits++) {
            BigDecimal candidate = exact.round(new MathContext(digits, RoundingMode.HALF_EVEN));
            if ((float) candidate.doubleValue() == value) {
                return candidate.toString();
            }
        }
    }

    private void document(String port, Device device, Iterable<DownloadedDive> dives)
        throws IOException {
        out.write("{\n  \"formatVersion\": " + FORMAT_VERSION + ",\n  \"port\": ");
        string(port);
        out.write(",\n  \"device\": {\"vendor\": ");
        string(device.getVendor());
        out.write(", \"product\": ");
        string(device.getProduct());
        out.write(", \"serial\": ");
        string(device.getSerial());
        out.write("},\n  \"dives\": [");
        int count = 0;
        for (DownloadedDive dive : dives) {
            out.write(count == 0 ? "\n" : ",\n");
            dive(++count, dive);
        }
        out.write(count == 0 ? "]\n}\n" : "\n  ]\n}\n");
    }

    private void dive(int number, DownloadedDive downloaded) throws IOException {
        Dive dive = downloaded.dive();
        Gas gas = dive.getGas();
        out.write("    {\n      \"number\": " + number + ",\n      \"dateTime\": ");
        string(dive.getDateTime());
        out.write(",\n      \"diveTimeSeconds\": ");
        floatValue(dive.getDiveTime());
        out.write(",\n      \"maxDepthMetres\": ");
        floatValue(dive.getMaxDepth());
        out.write(",\n      \"gas\": {\"oxygenPercent\": " + gas.getOxygen()
                  + ", \"heliumPercent\": " + gas.getHelium() + ", \"name\": ");
        string(gas.toString());
        out.write("},\n      \"samples\": " + dive.getSampleCount() + ",\n      \"profile\": {");
        series("timeSeconds", dive.getTimeProfile(), ",");
        series("depthMetres", dive.getDepthProfile(), ",");
        series("pressureBar", dive.getPressureProfile(), ",");
        series("temperatureCelsius", dive.getTemperatureProfile(), ",");
        series("eventType", dive.getEventProfile(), "");
        out.write("\n      }");
        if (downloaded.details().isPresent()) {
            details(dive, downloaded.details().get());
        }
        out.write("\n    }");
    }

    private void details(Dive dive, DiveDetails details) throws IOException {
        key("startTime");
        optionalString(isoDateTime(dive.getDateTime(), details.timezoneOffset()));
        key("utcOffsetSeconds");
        optionalInt(details.timezoneOffset());
        key("diveMode");
        optionalString(details.diveMode().map(DiveJson::enumName));
        key("averageDepthMetres");
        optionalDouble(details.averageDepth());
        key("surfaceTemperatureCelsius");
        optionalDouble(details.surfaceTemperature());
        key("minimumTemperatureCelsius");
        optionalDouble(details.minimumTemperature());
        key("maximumTemperatureCelsius");
        optionalDouble(details.maximumTemperature());
        key("atmosphericPressureBar");
        optionalDouble(details.atmosphericPressure());
        key("water");
        optionalString(details.water().map(DiveJson::enumName));
        key("waterDensityKilogramsPerCubicMetre");
        optionalDouble(details.density());
        key("decoModel");
        decoModel(details.decoModel());
        key("location");
        location(details.location());
        key("gasMixes");
        out.write("[");
        for (int i = 0; i < details.gasMixes().size(); i++) {
            GasMix mix = details.gasMixes().get(i);
            out.write(i == 0 ? "\n        {" : ",\n        {");
            out.write("\"index\": " + mix.index() + ", \"oxygenFraction\": ");
            doubleValue(mix.oxygen());
            out.write(", \"heliumFraction\": ");
            doubleValue(mix.helium());
            out.write(", \"nitrogenFraction\": ");
            doubleValue(mix.nitrogen());
            out.write(", \"usage\": ");
            optionalString(mix.usage().map(DiveJson::enumName));
            out.write("}");
        }
        out.write(details.gasMixes().isEmpty() ? "]" : "\n      ]");
        key("tanks");
        out.write("[");
        for (int i = 0; i < details.tanks().size(); i++) {
            out.write(i == 0 ? "\n        " : ",\n        ");
            tank(details.tanks().get(i));
        }
        out.write(details.tanks().isEmpty() ? "]" : "\n      ]");
        key("sampleSeries");
        sampleSeries(details.samples());
    }

    private void decoModel(Optional<DecoModel> decoModel) throws IOException {
        if (decoModel.isEmpty()) {
            out.write("null");
            return;
        }
        DecoModel model = decoModel.get();
        // Gradient factors belong to Buehlmann's model; another's would read as a setting of 0.
        boolean gradientFactors = model.type() == DecoModel.Type.BUHLMANN;
        out.write("{\"type\": ");
        string(enumName(model.type()));
        out.write(", \"conservatism\": " + model.conservatism() + ", \"gradientFactorLowPercent\": "
                  + (gradientFactors ? String.valueOf(model.gradientFactorLow()) : "null")
                  + ", \"gradientFactorHighPercent\": "
                  + (gradientFactors ? String.valueOf(model.gradientFactorHigh()) : "null") + "}");
    }

    private void location(Optional<Location> location) throws IOException {
        if (location.isEmpty()) {
            out.write("null");
            return;
        }
        out.write("{\"latitudeDegrees\": ");
        doubleValue(location.get().latitude());
        out.write(", \"longitudeDegrees\": ");
        doubleValue(location.get().longitude());
        out.write(", \"altitudeMetres\": ");
        doubleValue(location.get().altitude());
        out.write("}");
    }

    private void tank(Tank tank) throws IOException {
        // A tank of no given size reports 0 for its volume and working pressure.
        boolean sized = tank.volumeType() != Tank.VolumeType.NONE;
        out.write("{\"index\": " + tank.index() + ", \"gasMix\": ");
        optionalInt(tank.gasMix());
        out.write(", \"usage\": ");
        optionalString(tank.usage().map(DiveJson::enumName));
        out.write(", \"volumeType\": ");
        string(enumName(tank.volumeType()));
        out.write(", \"volumeLitres\": ");
        optionalDouble(sized ? OptionalDouble.of(tank.volume()) : OptionalDouble.empty());
        out.write(", \"workPressureBar\": ");
        optionalDouble(sized ? OptionalDouble.of(tank.workPressure()) : OptionalDouble.empty());
        out.write(", \"beginPressureBar\": ");
        doubleValue(tank.beginPressure());
        out.write(", \"endPressureBar\": ");
        doubleValue(tank.endPressure());
        out.write("}");
    }

    /**
     * Every sample kind as parallel arrays: "sample" holds, for each value, the index into
     * "timeSeconds" of the time sample it came with, so two values of a kind at one time (two
     * events, two tanks' pressures) are both there.
     */
    private void sampleSeries(DiveSamples samples) throws IOException {
        out.write("{\n        \"timeSeconds\": ");
        doubles(samples.times());
        kind("depth", samples.depthSamples());
        column("metres");
        doubles(samples.depths());
        kind("pressure", samples.pressureSamples());
        column("tank");
        ints(samples.pressureTanks());
        column("bar");
        doubles(samples.pressures());
        kind("temperature", samples.temperatureSamples());
        column("celsius");
        doubles(samples.temperatures());
        int[] eventTypes = samples.eventTypes();
        kind("event", samples.eventSamples());
        column("type");
        unsignedInts(eventTypes);
        column("name");
        array(eventTypes.length, i -> optionalString(eventName(eventTypes[i])));
        column("time");
        unsignedInts(samples.eventTimes());
        column("flags");
        unsignedInts(samples.eventFlags());
        column("value");
        unsignedInts(samples.eventValues());
        kind("remainingBottomTime", samples.remainingBottomTimeSamples());
        column("minutes");
        unsignedInts(samples.remainingBottomTimes());
        kind("heartRate", samples.heartRateSamples());
        column("beatsPerMinute");
        unsignedInts(samples.heartRates());
        kind("bearing", samples.bearingSamples());
        column("degrees");
        unsignedInts(samples.bearings());
        kind("setpoint", samples.setpointSamples());
        column("bar");
        doubles(samples.setpoints());
        kind("ppo2", samples.ppo2Samples());
        column("sensor");
        absentMarked(samples.ppo2Sensors());
        column("bar");
        doubles(samples.ppo2());
        kind("cns", samples.cnsSamples());
        column("fraction");
        doubles(samples.cns());
        int[] decoTypes = samples.decoTypes();
        kind("deco", samples.decoSamples());
        column("type");
        unsignedInts(decoTypes);
        column("name");
        array(decoTypes.length, i -> {
            boolean known = decoTypes[i] >= 0 && decoTypes[i] < DECO_NAMES.length;
            optionalString(known ? Optional.of(DECO_NAMES[decoTypes[i]]) : Optional.empty());
        });
        column("timeSeconds");
        unsignedInts(samples.decoTimes());
        column("depthMetres");
        doubles(samples.decoDepths());
        column("timeToSurfaceSeconds");
        absentMarked(samples.decoTimesToSurface());
        kind("gasSwitch", samples.gasSwitchSamples());
        column("gasMix");
        unsignedInts(samples.gasSwitches());
        out.write("}\n      }");
    }

    /** Opens one sample kind's object with its "sample" indexes. */
    private void kind(String name, int[] sampleIndexes) throws IOException {
        out.write(name.equals("depth") ? ",\n        \"" : "},\n        \"");
        out.write(name + "\": {\"sample\": ");
        ints(sampleIndexes);
    }

    private void column(String name) throws IOException {
        out.write(", \"" + name + "\": ");
    }

    private void key(String name) throws IOException {
        out.write(",\n      \"" + name + "\": ");
    }

    /** The library's enum constants as lower-case words: CLOSED_CIRCUIT is "closed_circuit". */
    private static String enumName(Enum<?> constant) {
        return constant.name().toLowerCase(Locale.ROOT);
    }

    private void optionalString(Optional<String> text) throws IOException {
        if (text.isPresent()) {
            string(text.get());
        } else {
            out.write("null");
        }
    }

    private void optionalInt(OptionalInt value) throws IOException {
        out.write(value.isPresent() ? String.valueOf(value.getAsInt()) : "null");
    }

    private void optionalDouble(OptionalDouble value) throws IOException {
        if (value.isPresent()) {
            doubleValue(value.getAsDouble());
        } else {
            out.write("null");
        }
    }

    /** Writes entry i of an array. */
    private interface Entry {
        void write(int i) throws IOException;
    }

    private void array(int length, Entry entry) throws IOException {
        out.write("[");
        for (int i = 0; i < length; i++) {
            out.write(i == 0 ? "" : ", ");
            entry.write(i);
        }
        out.write("]");
    }

    private void doubles(double[] values) throws IOException {
        array(values.length, i -> doubleValue(values[i]));
    }

    private void ints(int[] values) throws IOException {
        array(values.length, i -> out.write(String.valueOf(values[i])));
    }

    /** libdivecomputer's unsigned 32-bit values, which Java holds in an int. */
    private void unsignedInts(int[] values) throws IOException {
        array(values.length, i -> out.write(Integer.toUnsignedString(values[i])));
    }

    /** Values where DiveSamples.ABSENT marks one not given, written as null. */
    private void absentMarked(int[] values) throws IOException {
        array(values.length, i -> out.write(values[i] == DiveSamples.ABSENT
                                                ? "null"
                                                : Integer.toUnsignedString(values[i])));
    }

    private void doubleValue(double value) throws IOException {
        if (Double.isFinite(value)) {
            out.write(Double.toString(value));
        } else {
            string(Double.toString(value));
        }
    }

    private void series(String name, Number[] values, String separator) throws IOException {
        out.write("\n        \"" + name + "\": [");
        for (int i = 0; i < values.length; i++) {
            if (i > 0) {
                out.write(", ");
            }
            Number value = values[i];
            if (value == null) {
                out.write("null");
            } else if (value instanceof Float) {
                floatValue((Float) value);
            } else {
                out.write(value.toString());
            }
        }
        out.write("]" + separator);
    }

    private void floatValue(float value) throws IOException {
        if (Float.isFinite(value)) {
            out.write(decimal(value));
        } else {
            string(Float.toString(value));
        }
    }

    private void string(String text) throws IOException {
        out.write('"');
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            switch (c) {
                case '"' -> out.write("\\\"");
                case '\\' -> out.write("\\\\");
                case '\n' -> out.write("\\n");
                case '\r' -> out.write("\\r");
                case '\t' -> out.write("\\t");
                case '\b' -> out.write("\\b");
                case '\f' -> out.write("\\f");
                default -> {
                    if (c < 0x20 || isLoneSurrogate(text, i)) {
                        // A lone surrogate has no UTF-8 form; its escape keeps it.
                        out.write(String.format("\\u%04x", (int) c));
                    } else {
                        out.write(c);
                    }
                }
            }
        }
        out.write('"');
    }

    private static boolean isLoneSurrogate(String text, int index) {
        char c = text.charAt(index);
        if (Character.isHighSurrogate(c)) {
            return index + 1 == text.length() || !Character.isLowSurrogate(text.charAt(index + 1));
        }
        if (Character.isLowSurrogate(c)) {
            return index == 0 || !Character.isHighSurrogate(text.charAt(index - 1));
        }
        return false;
    }
}
