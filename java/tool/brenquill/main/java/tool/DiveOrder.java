package brenquill.main.java.tool;

import brenquill.main.java.core.Dive;
import java.util.Comparator;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Oldest first by the dive's date and time as numbers: the text "YYYY-MM-DD hh:mm:ss" sorts
 * wrongly once a field is wider or narrower than usual, as years before 1000 and after 9999 and
 * negative values are. A date that is no such text sorts after every readable one. Dives at the
 * same time keep the application's own order.
 */
final class DiveOrder {
    private static final Pattern DATE_TIME =
        Pattern.compile("(-?\\d+)-(-?\\d+)-(-?\\d+) (-?\\d+):(-?\\d+):(-?\\d+)");
    private static final int FIELDS = 6;

    static final Comparator<Dive> OLDEST_FIRST =
        Comparator.comparing((Dive dive) -> fields(dive.getDateTime()),
                             Comparator.nullsLast(DiveOrder::compareFields))
            .thenComparing(Comparator.naturalOrder());

    private DiveOrder() {}

    /** Year, month, day, hour, minute and second; null when the text is not a date and time. */
    private static long[] fields(String dateTime) {
        Matcher matcher = DATE_TIME.matcher(dateTime);
        if (!matcher.matches()) {
            return null;
        }
        long[] fields = new long[FIELDS];
        try {
            for (int i = 0; i < FIELDS; i++) {
                fields[i] = Long.parseLong(matcher.group(i + 1));
            }
        } catch (NumberFormatException e) {
            return null;
        }
        return fields;
    }

    private static int compareFields(long[] a, long[] b) {
        for (int i = 0; i < FIELDS; i++) {
            int order = Long.compare(a[i], b[i]);
            if (order != 0) {
                return order;
            }
        }
        return 0;
    }
}
