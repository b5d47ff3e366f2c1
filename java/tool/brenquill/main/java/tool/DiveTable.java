package brenquill.main.java.tool;

import brenquill.main.java.core.Dive;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/** The dives of a download as a text table, one row per dive, numbered from 1. */
final class DiveTable {
    private static final String[] HEADERS = {"#", "Date and time", "Duration", "Max depth", "Gas",
                                             "Samples"};
    // Text columns are aligned left, numbers right.
    private static final boolean[] LEFT = {false, true, false, false, true, false};
    private static final int SECONDS_PER_MINUTE = 60;
    private static final int SECONDS_PER_HOUR = 3600;
    private static final float IMPLAUSIBLE_METRES = 1e6f;

    private DiveTable() {}

    static void print(PrintStream out, List<Dive> dives) {
        List<String[]> rows = new ArrayList<>();
        for (int i = 0; i < dives.size(); i++) {
            Dive dive = dives.get(i);
            rows.add(new String[] {String.valueOf(i + 1), dive.getDateTime(),
                                   duration(dive.getDiveTime()), depth(dive.getMaxDepth()),
                                   String.valueOf(dive.getGas()),
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
}
