package diveconnector.testing;

import brenquill.main.java.core.Dive;
import java.util.ArrayList;
import java.util.List;

/**
 * What one loadUserDivesFromDevice call in a child JVM gave, as one tab-separated line of its
 * output: the result ("none" when the call threw), the exception ("none" fields when nothing was
 * thrown), the dates of the dives the set received in order, the live dcsim handles afterwards and
 * the calls of dc_context_new and dc_device_close.
 */
public record DownloadOutcome(String result, String thrown, String message, String cause,
                              List<String> dives, int liveHandles, int contexts, int closes) {
    private static final String PREFIX = "download";

    static DownloadOutcome of(Object result, Throwable thrown, RecordingSet<Dive> set) {
        List<String> dives = new ArrayList<>();
        for (Dive dive : set.added()) {
            dives.add(dive.getDateTime());
        }
        return new DownloadOutcome(
            thrown != null ? "none" : String.valueOf(result),
            thrown == null ? "none" : thrown.getClass().getName(),
            thrown == null ? "none" : String.valueOf(thrown.getMessage()),
            thrown == null || thrown.getCause() == null ? "none"
                                                        : thrown.getCause().getClass().getName(),
            dives, DcSim.liveTotal(), DcSim.calls("dc_context_new"),
            DcSim.calls("dc_device_close"));
    }

    String format() {
        return String.join("\t", PREFIX, clean(result), thrown, clean(message), cause,
                           String.join(",", dives), String.valueOf(liveHandles),
                           String.valueOf(contexts), String.valueOf(closes));
    }

    private static String clean(String text) {
        return text.replace('\t', ' ').replace('\n', ' ');
    }

    /** The outcome line of a child's output. */
    public static DownloadOutcome parse(String output) {
        List<DownloadOutcome> outcomes = new ArrayList<>();
        for (String line : output.split("\n")) {
            String[] fields = line.split("\t", -1);
            if (fields.length == 9 && fields[0].equals(PREFIX)) {
                outcomes.add(new DownloadOutcome(
                    fields[1], fields[2], fields[3], fields[4],
                    fields[5].isEmpty() ? List.of() : List.of(fields[5].split(",")),
                    Integer.parseInt(fields[6]), Integer.parseInt(fields[7]),
                    Integer.parseInt(fields[8])));
            }
        }
        if (outcomes.size() != 1) {
            throw new IllegalStateException("expected one outcome line in\n" + output);
        }
        return outcomes.get(0);
    }
}
