package diveconnector.testing;

import java.util.ArrayList;
import java.util.List;

/**
 * What one getSupportedDevices call in a child JVM gave, as one tab-separated line of its
 * output. {@code result} is "null", "none" (the call threw) or the size of the set; the
 * exception fields are "none" when nothing was thrown.
 */
public record ProbeOutcome(String step, boolean allocationFailed, String result, String thrown,
                           String message, String cause, int suppressed, int liveHandles) {
    private static final String PREFIX = "outcome";

    static ProbeOutcome of(String step, boolean allocationFailed, Object result, Throwable thrown) {
        return new ProbeOutcome(
            step, allocationFailed,
            thrown != null ? "none" : result == null ? "null" : String.valueOf(sizeOf(result)),
            thrown == null ? "none" : thrown.getClass().getName(),
            thrown == null ? "none" : String.valueOf(thrown.getMessage()),
            thrown == null || thrown.getCause() == null ? "none"
                                                        : thrown.getCause().getClass().getName(),
            thrown == null ? 0 : thrown.getSuppressed().length, DcSim.liveTotal());
    }

    private static int sizeOf(Object result) {
        return ((java.util.Collection<?>) result).size();
    }

    String format() {
        return String.join("\t", PREFIX, step, String.valueOf(allocationFailed), result, thrown,
                           message.replace('\t', ' ').replace('\n', ' '), cause,
                           String.valueOf(suppressed), String.valueOf(liveHandles));
    }

    /** The outcome lines of a child's output, in order. */
    public static List<ProbeOutcome> parseAll(String output) {
        List<ProbeOutcome> outcomes = new ArrayList<>();
        for (String line : output.split("\n")) {
            String[] fields = line.split("\t", -1);
            if (fields.length == 9 && fields[0].equals(PREFIX)) {
                outcomes.add(new ProbeOutcome(fields[1], Boolean.parseBoolean(fields[2]),
                                              fields[3], fields[4], fields[5], fields[6],
                                              Integer.parseInt(fields[7]),
                                              Integer.parseInt(fields[8])));
            }
        }
        return outcomes;
    }
}
