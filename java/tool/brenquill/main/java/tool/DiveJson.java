package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import java.io.IOException;
import java.io.Writer;
import java.math.BigDecimal;
import java.math.MathContext;
import java.math.RoundingMode;

/**
 * A download as JSON (RFC 8259, UTF-8): the port, the device and every dive with its whole
 * profile. Profile series run in parallel, entry i of each belonging to sample i; null is a value
 * the sample did not carry. A float is written as the shortest decimal that reads back as the
 * very same float even when read as a double first, as JSON readers do; NaN and the infinities,
 * which JSON numbers cannot express, are written as the strings "NaN", "Infinity" and
 * "-Infinity".
 */
final class DiveJson {
    private final Writer out;

    private DiveJson(Writer out) {
        this.out = out;
    }

    static void write(Writer out, String port, Device device, Iterable<Dive> dives)
        throws IOException {
        new DiveJson(out).document(port, device, dives);
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

    private void document(String port, Device device, Iterable<Dive> dives) throws IOException {
        out.write("{\n  \"port\": ");
        string(port);
        out.write(",\n  \"device\": {\"vendor\": ");
        string(device.getVendor());
        out.write(", \"product\": ");
        string(device.getProduct());
        out.write(", \"serial\": ");
        string(device.getSerial());
        out.write("},\n  \"dives\": [");
        int count = 0;
        for (Dive dive : dives) {
            out.write(count == 0 ? "\n" : ",\n");
            dive(++count, dive);
        }
        out.write(count == 0 ? "]\n}\n" : "\n  ]\n}\n");
    }

    private void dive(int number, Dive dive) throws IOException {
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
        out.write("\n      }\n    }");
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
