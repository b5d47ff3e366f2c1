package brenquill.main.java.tool;

import brenquill.main.java.core.Dive;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveMode;
import diveconnector.details.Tank;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.OptionalDouble;

/**
 * The dives of a download as a text table, one row per dive, numbered from 1. A value the
 * computer did not give is a dash, one that is no number a question mark.
 */
final class DiveTable {
    private static final String[] HEADERS = {"#", "Date and time", "Duration", "Max depth",
                                             "Avg depth", "Min temp", "Mode", "Gas",
                                             "Tanks start/end", "Samples"};
    // Text columns are aligned left, numbers right.
    private static final boolean[] LEFT = {false, true, false, false, false, false, true, true,
                                           true, false};
    private static final String ABSENT = "-";
    private static final int SECONDS_PER_MINUTE = 60;
    private static final int SECONDS_PER_HOUR = 3600;
    private static final float IMPLAUSIBLE_METRES = 1e6f;

    private DiveTable() {}

    static void print(PrintStream out, List<DownloadedDive> dives) {
        List<String[]> rows = new ArrayList<>();
        for (int i = 0; i < dives.size(); i++) {
            Dive dive = dives.get(i).dive();
            Optional<DiveDetails> details = dives.get(i).details();
            rows.add(new String[] {
                String.valueOf(i + 1), dive.getDateTime(), duration(dive.getDiveTime()),
                depth(dive.getMaxDepth()),
                details.map(d -> depth(d.averageDepth())).orElse(ABSENT),
                details.map(d -> temperature(minimumTemperature(d))).orElse(ABSENT),
                details.flatMap(DiveDetails::diveMode).map(DiveTable::mode).orElse(ABSENT),
                String.valueOf(dive.getGas()), details.map(DiveTable::tanks).orElse(ABSENT),
                String.valueOf(dive.getSampleCount())});
        }
        TextTable.print(out, HEADERS, LEFT, rows);
    }

    /** h:mm:ss, the one format of the tool's durations. */
    static String duration(float seconds) {
        if (!Float.isFinite(seconds) || seconds < 0) {
            return "?";
        }
        return duration(Math.round((double) seconds));
    }

    static String duration(long seconds) {
        return String.format(Locale.ROOT, "%d:%02d:%02d", seconds / SECONDS_PER_HOUR,
                             seconds % SECONDS_PER_HOUR / SECONDS_PER_MINUTE,
                             seconds % SECONDS_PER_MINUTE);
    }

    /** Metres with one decimal, whatever the locale; a depth no sea has in scientific notation. */
    static String depth(float metres) {
        if (!Float.isFinite(metres)) {
            return "?";
        }
        if (Math.abs(metres) >= IMPLAUSIBLE_METRES) {
            return String.format(Locale.ROOT, "%.2e m", metres);
        }
        return String.format(Locale.ROOT, "%.1f m", metres);
    }

    private static String depth(OptionalDouble metres) {
        return metres.isPresent() ? depth((float) metres.getAsDouble()) : ABSENT;
    }

    /** The computer's own minimum, else the coldest temperature it recorded during the dive. */
    private static OptionalDouble minimumTemperature(DiveDetails details) {
        if (details.minimumTemperature().isPresent()) {
            return details.minimumTemperature();
        }
        double coldest = Double.POSITIVE_INFINITY;
        for (double temperature : details.samples().temperatures()) {
            if (Double.isFinite(temperature)) {
                coldest = Math.min(coldest, temperature);
            }
        }
        return coldest == Double.POSITIVE_INFINITY ? OptionalDouble.empty()
                                                   : OptionalDouble.of(coldest);
    }

    private static String temperature(OptionalDouble celsius) {
        if (celsius.isEmpty()) {
            return ABSENT;
        }
        double value = celsius.getAsDouble();
        if (!Double.isFinite(value) || Math.abs(value) >= IMPLAUSIBLE_METRES) {
            return "?";
        }
        return String.format(Locale.ROOT, "%.1f \u00b0C", value);
    }

    /** The abbreviations divers and their computers use. */
    private static String mode(DiveMode mode) {
        return switch (mode) {
            case FREEDIVE -> "Freedive";
            case GAUGE -> "Gauge";
            case OPEN_CIRCUIT -> "OC";
            case CLOSED_CIRCUIT -> "CCR";
            case SEMI_CLOSED -> "SCR";
            case UNKNOWN -> "?";
        };
    }

    /** Each tank's start and end pressure, "200/120 190/60 bar", in the computer's order. */
    private static String tanks(DiveDetails details) {
        if (details.tanks().isEmpty()) {
            return ABSENT;
        }
        StringBuilder text = new StringBuilder();
        for (Tank tank : details.tanks()) {
            text.append(pressure(tank.beginPressure())).append('/')
                .append(pressure(tank.endPressure())).append(' ');
        }
        return text.append("bar").toString();
    }

    private static String pressure(double bar) {
        if (!Double.isFinite(bar) || Math.abs(bar) >= IMPLAUSIBLE_METRES) {
            return "?";
        }
        return String.format(Locale.ROOT, "%.0f", bar);
    }
}
