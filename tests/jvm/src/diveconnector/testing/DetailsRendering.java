package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;

import diveconnector.details.DecoModel;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveSamples;
import diveconnector.details.Tank;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalDouble;
import java.util.OptionalInt;

/**
 * A dive's details in the layout the emulators write them (shearwater_petrel.py, Dive.details):
 * header fields by name, the mixes and tanks as lists, and each sample kind as rows of its time
 * sample's index and its values, every number a Double and every absent value null.
 */
final class DetailsRendering {
    private DetailsRendering() {}

    /**
     * The details are those in the JSON (one release's of an emulator's, whose numbers are the
     * doubles the backend computes), each number within the tolerance (0: exactly).
     */
    static void assertDetails(Object json, DiveDetails details, double tolerance, String where) {
        @SuppressWarnings("unchecked")
        Map<String, Object> want = (Map<String, Object>) plain(json);
        Map<String, Object> got = render(details);
        assertEquals(want.keySet(), got.keySet(), where);
        for (String key : want.keySet()) {
            if (key.equals("samples")) {
                Map<?, ?> wantSamples = (Map<?, ?>) want.get(key);
                Map<?, ?> gotSamples = (Map<?, ?>) got.get(key);
                assertEquals(wantSamples.keySet(), gotSamples.keySet(), where);
                for (Object kind : wantSamples.keySet()) {
                    assertClose(wantSamples.get(kind), gotSamples.get(kind), tolerance,
                                where + " " + kind);
                }
            } else {
                assertClose(want.get(key), got.get(key), tolerance, where + " " + key);
            }
        }
    }

    private static void assertClose(Object want, Object got, double tolerance, String where) {
        if (want instanceof Double wanted && got instanceof Double value) {
            assertEquals(wanted, value, tolerance, where);
        } else if (want instanceof List<?> wanted && got instanceof List<?> values) {
            assertEquals(wanted.size(), values.size(), where + " count: " + values);
            for (int i = 0; i < wanted.size(); i++) {
                assertClose(wanted.get(i), values.get(i), tolerance, where + " [" + i + "]");
            }
        } else {
            assertEquals(want, got, where);
        }
    }

    /** JSON values with every number as a Double, to compare with a rendering. */
    private static Object plain(Object json) {
        if (json instanceof JsonReader.Number number) {
            return Double.parseDouble(number.text());
        }
        if (json instanceof List<?> list) {
            List<Object> result = new ArrayList<>();
            list.forEach(item -> result.add(plain(item)));
            return result;
        }
        if (json instanceof Map<?, ?> map) {
            Map<String, Object> result = new LinkedHashMap<>();
            map.forEach((key, value) -> result.put((String) key, plain(value)));
            return result;
        }
        return json;
    }

    private static Double value(OptionalDouble value) {
        return value.isPresent() ? value.getAsDouble() : null;
    }

    private static Double value(OptionalInt value) {
        return value.isPresent() ? (double) value.getAsInt() : null;
    }

    private static String name(Optional<? extends Enum<?>> value) {
        return value.map(Enum::name).orElse(null);
    }

    /** One row per value: its time sample's index, then its parts, every number a Double. */
    private static List<List<Object>> rows(int[] samples, Object... columns) {
        List<List<Object>> rows = new ArrayList<>();
        for (int i = 0; i < samples.length; i++) {
            List<Object> row = new ArrayList<>(List.of((double) samples[i]));
            for (Object column : columns) {
                row.add(column instanceof int[] ints ? (double) ints[i] : ((double[]) column)[i]);
            }
            rows.add(row);
        }
        return rows;
    }

    /** The details in the emulators' layout (shearwater_petrel.py, Dive.details). */
    private static Map<String, Object> render(DiveDetails details) {
        Map<String, Object> result = new LinkedHashMap<>();
        result.put("timezone", value(details.timezoneOffset()));
        result.put("diveMode", name(details.diveMode()));
        result.put("decoModel", details.decoModel()
            .map(model -> {
                // The gradient factors mean something for Buehlmann only.
                boolean gf = model.type() == DecoModel.Type.BUHLMANN;
                return Arrays.<Object>asList(model.type().name(),
                    Double.valueOf(model.conservatism()),
                    gf ? Double.valueOf(model.gradientFactorLow()) : null,
                    gf ? Double.valueOf(model.gradientFactorHigh()) : null);
            })
            .orElse(null));
        result.put("water", name(details.water()));
        result.put("density", value(details.density()));
        result.put("atmospheric", value(details.atmosphericPressure()));
        result.put("averageDepth", value(details.averageDepth()));
        result.put("temperatures", Arrays.asList(value(details.surfaceTemperature()),
            value(details.minimumTemperature()), value(details.maximumTemperature())));
        result.put("location", details.location()
            .map(at -> List.<Object>of(at.latitude(), at.longitude(), at.altitude()))
            .orElse(null));
        List<Object> mixes = new ArrayList<>();
        details.gasMixes().forEach(mix -> mixes.add(
            Arrays.asList(mix.oxygen(), mix.helium(), name(mix.usage()))));
        result.put("gasMixes", mixes);
        List<Object> tanks = new ArrayList<>();
        for (Tank tank : details.tanks()) {
            tanks.add(Arrays.asList(value(tank.gasMix()), tank.volumeType().name(), tank.volume(),
                tank.workPressure(), tank.beginPressure(), tank.endPressure(),
                name(tank.usage())));
        }
        result.put("tanks", tanks);
        DiveSamples s = details.samples();
        Map<String, Object> samples = new LinkedHashMap<>();
        samples.put("depth", rows(s.depthSamples(), s.depths()));
        samples.put("temperature", rows(s.temperatureSamples(), s.temperatures()));
        samples.put("ppo2", rows(s.ppo2Samples(), s.ppo2Sensors(), s.ppo2()));
        samples.put("setpoint", rows(s.setpointSamples(), s.setpoints()));
        samples.put("cns", rows(s.cnsSamples(), s.cns()));
        samples.put("gasmix", rows(s.gasSwitchSamples(), s.gasSwitches()));
        samples.put("deco", rows(s.decoSamples(), s.decoTypes(), s.decoTimes(), s.decoDepths(),
            s.decoTimesToSurface()));
        samples.put("pressure", rows(s.pressureSamples(), s.pressureTanks(), s.pressures()));
        samples.put("bearing", rows(s.bearingSamples(), s.bearings()));
        samples.put("event", rows(s.eventSamples(), s.eventTypes(), s.eventTimes(),
            s.eventFlags(), s.eventValues()));
        List<Object> times = new ArrayList<>();
        Arrays.stream(s.times()).forEach(times::add);
        samples.put("times", times);
        samples.put("rbt", rows(s.remainingBottomTimeSamples(), s.remainingBottomTimes()));
        samples.put("heartRate", rows(s.heartRateSamples(), s.heartRates()));
        result.put("samples", samples);
        return result;
    }
}
