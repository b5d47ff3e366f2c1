package brenquill.main.java.tool;

import java.math.BigDecimal;
import java.math.RoundingMode;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * A plot axis from `low` to `high`, widened to whole steps of 1, 2 or 5 times a power of ten,
 * with labels that stay short whatever the magnitude: 3.4e38 m must not print 39 digits.
 */
final class PlotAxis {
    private static final int TARGET_TICKS = 8;
    // Plain decimals from a thousandth up to this; scientific notation beyond.
    private static final double PLAIN_LIMIT = 1e6;
    private static final double PLAIN_STEP = 1e-3;
    private static final int MAX_DIGITS = 17;

    private final double step;
    private final double start;
    private final double end;

    PlotAxis(double low, double high) {
        // A range of one value, or one too narrow to divide, gets room around it.
        if (!(high - low > Math.ulp(Math.max(Math.abs(low), Math.abs(high))) * TARGET_TICKS)) {
            double margin = Math.max(1, Math.abs(high) / 10);
            low -= margin;
            high += margin;
        }
        double raw = (high - low) / TARGET_TICKS;
        double magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
        double residual = raw / magnitude;
        step = magnitude * (residual <= 1 ? 1 : residual <= 2 ? 2 : residual <= 5 ? 5 : 10);
        start = Math.floor(low / step) * step;
        end = Math.ceil(high / step) * step;
    }

    List<Double> ticks() {
        List<Double> ticks = new ArrayList<>();
        long count = Math.round((end - start) / step);
        for (long i = 0; i <= count; i++) {
            ticks.add(start + i * step);
        }
        return ticks;
    }

    /** Where the value lies, from 0 at the start of the axis to 1 at its end. */
    double fraction(double value) {
        return (value - start) / (end - start);
    }

    String label(double value) {
        double largest = Math.max(Math.abs(start), Math.abs(end));
        if (step >= PLAIN_STEP && largest < PLAIN_LIMIT) {
            int decimals = Math.max(0, (int) -Math.floor(Math.log10(step)));
            return new BigDecimal(value).setScale(decimals, RoundingMode.HALF_UP).toPlainString();
        }
        // As many significant digits as tell neighbouring ticks apart.
        int digits = (int) Math.ceil(Math.log10(largest / step)) + 1;
        digits = Math.max(1, Math.min(MAX_DIGITS, digits));
        return String.format(Locale.ROOT, "%." + (digits - 1) + "e", value);
    }
}
