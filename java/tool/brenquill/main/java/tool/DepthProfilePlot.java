package brenquill.main.java.tool;

import brenquill.main.java.core.Dive;
import java.io.IOException;
import java.io.Writer;
import java.math.BigDecimal;
import java.math.RoundingMode;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * A dive's depth profile as an SVG image: depth in metres growing downwards over time in minutes,
 * with a grid at round values, the dive's events as dots and a title with its date and gas.
 */
final class DepthProfilePlot {
    private static final int WIDTH = 900;
    private static final int HEIGHT = 500;
    private static final int LEFT = 80;
    private static final int RIGHT = 30;
    private static final int TOP = 80;
    private static final int BOTTOM = 70;
    private static final int PLOT_WIDTH = WIDTH - LEFT - RIGHT;
    private static final int PLOT_HEIGHT = HEIGHT - TOP - BOTTOM;
    private static final int TARGET_TICKS = 8;
    private static final int TICK_LENGTH = 6;
    private static final double SECONDS_PER_MINUTE = 60;
    private static final int MIN_INDEX_DIGITS = 3;
    private static final double DEPTH_HEADROOM = 1.05;

    /** One sample with both a time and a depth, the time in minutes. */
    private record Point(double minutes, double depth, Integer event) {}

    private DepthProfilePlot() {}

    /** "dive-007-2024-05-10_07-30-00.svg": the dive's number, then its date and time. */
    static String fileName(int number, int count, Dive dive) {
        int digits = Math.max(MIN_INDEX_DIGITS, String.valueOf(count).length());
        StringBuilder name = new StringBuilder(String.format(Locale.ROOT, "dive-%0" + digits + "d-",
                                                             number));
        for (char c : dive.getDateTime().toCharArray()) {
            boolean plain = c < 0x80 && (Character.isLetterOrDigit(c) || c == '-');
            name.append(plain ? c : c == ':' ? '-' : '_');
        }
        return name.append(".svg").toString();
    }

    static void write(Writer out, int number, Dive dive) throws IOException {
        out.write(svg(number, dive));
    }

    private static List<Point> points(Dive dive) {
        Float[] time = dive.getTimeProfile();
        Float[] depth = dive.getDepthProfile();
        Integer[] events = dive.getEventProfile();
        List<Point> points = new ArrayList<>();
        for (int i = 0; i < time.length; i++) {
            if (time[i] != null && depth[i] != null && Float.isFinite(time[i])
                && Float.isFinite(depth[i])) {
                points.add(new Point(time[i] / SECONDS_PER_MINUTE, depth[i], events[i]));
            }
        }
        return points;
    }

    private static String svg(int number, Dive dive) {
        List<Point> points = points(dive);
        double lastMinute = 1;
        double firstMinute = 0;
        double deepest = 1;
        double shallowest = 0;
        for (Point point : points) {
            lastMinute = Math.max(lastMinute, point.minutes());
            firstMinute = Math.min(firstMinute, point.minutes());
            deepest = Math.max(deepest, point.depth());
            shallowest = Math.min(shallowest, point.depth());
        }
        Axis time = new Axis(firstMinute, lastMinute);
        // Some room below the deepest point, so the profile does not run along the frame.
        Axis depth = new Axis(shallowest, deepest * DEPTH_HEADROOM);

        StringBuilder svg = new StringBuilder();
        svg.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        svg.append(String.format(Locale.ROOT,
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" "
                                     + "height=\"%d\" viewBox=\"0 0 %d %d\" "
                                     + "font-family=\"sans-serif\" font-size=\"13\">%n",
                                 WIDTH, HEIGHT, WIDTH, HEIGHT));
        String title = "Dive " + number + ": " + dive.getDateTime() + ", " + dive.getGas();
        svg.append("<title>").append(escape(title)).append("</title>\n");
        svg.append("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
        svg.append(String.format(Locale.ROOT,
                                 "<text x=\"%d\" y=\"32\" text-anchor=\"middle\" font-size=\"20\" "
                                     + "font-weight=\"bold\">%s</text>%n",
                                 WIDTH / 2, escape(title)));
        svg.append(String.format(Locale.ROOT,
                                 "<text x=\"%d\" y=\"56\" text-anchor=\"middle\" fill=\"#444\">"
                                     + "%s, max depth %s, %d samples</text>%n",
                                 WIDTH / 2, escape(DiveTable.duration(dive.getDiveTime())),
                                 escape(DiveTable.depth(dive.getMaxDepth())),
                                 dive.getSampleCount()));

        grid(svg, time, depth);
        profile(svg, points, time, depth);
        svg.append(String.format(Locale.ROOT,
                                 "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" "
                                     + "stroke=\"black\"/>%n",
                                 LEFT, TOP, PLOT_WIDTH, PLOT_HEIGHT));
        svg.append(String.format(Locale.ROOT,
                                 "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">"
                                     + "Time (min)</text>%n",
                                 LEFT + PLOT_WIDTH / 2, HEIGHT - 22));
        svg.append(String.format(Locale.ROOT,
                                 "<text transform=\"translate(%d %d) rotate(-90)\" "
                                     + "text-anchor=\"middle\">Depth (m)</text>%n",
                                 24, TOP + PLOT_HEIGHT / 2));
        if (points.isEmpty()) {
            svg.append(String.format(Locale.ROOT,
                                     "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" "
                                         + "fill=\"#888\">No depth samples</text>%n",
                                     LEFT + PLOT_WIDTH / 2, TOP + PLOT_HEIGHT / 2));
        }
        svg.append("</svg>\n");
        return svg.toString();
    }

    private static void grid(StringBuilder svg, Axis time, Axis depth) {
        svg.append("<g stroke=\"#ddd\">\n");
        for (double tick : time.ticks()) {
            double x = x(time, tick);
            svg.append(line(x, TOP, x, TOP + PLOT_HEIGHT));
        }
        for (double tick : depth.ticks()) {
            double y = y(depth, tick);
            svg.append(line(LEFT, y, LEFT + PLOT_WIDTH, y));
        }
        svg.append("</g>\n<g stroke=\"black\">\n");
        for (double tick : time.ticks()) {
            double x = x(time, tick);
            svg.append(line(x, TOP + PLOT_HEIGHT, x, TOP + PLOT_HEIGHT + TICK_LENGTH));
        }
        for (double tick : depth.ticks()) {
            double y = y(depth, tick);
            svg.append(line(LEFT - TICK_LENGTH, y, LEFT, y));
        }
        svg.append("</g>\n<g text-anchor=\"middle\">\n");
        for (double tick : time.ticks()) {
            svg.append(String.format(Locale.ROOT, "<text x=\"%.2f\" y=\"%d\">%s</text>%n",
                                     x(time, tick), TOP + PLOT_HEIGHT + TICK_LENGTH + 15,
                                     time.label(tick)));
        }
        svg.append("</g>\n<g text-anchor=\"end\">\n");
        for (double tick : depth.ticks()) {
            svg.append(String.format(Locale.ROOT, "<text x=\"%d\" y=\"%.2f\">%s</text>%n",
                                     LEFT - TICK_LENGTH - 4, y(depth, tick) + 4,
                                     depth.label(tick)));
        }
        svg.append("</g>\n");
    }

    private static void profile(StringBuilder svg, List<Point> points, Axis time, Axis depth) {
        if (points.isEmpty()) {
            return;
        }
        StringBuilder line = new StringBuilder();
        for (Point point : points) {
            line.append(String.format(Locale.ROOT, "%.2f,%.2f ", x(time, point.minutes()),
                                      y(depth, point.depth())));
        }
        String path = line.toString().strip();
        double surface = y(depth, 0);
        svg.append(String.format(Locale.ROOT,
                                 "<polygon fill=\"#cfe3f7\" points=\"%.2f,%.2f %s %.2f,%.2f\"/>%n",
                                 x(time, points.get(0).minutes()), surface, path,
                                 x(time, points.get(points.size() - 1).minutes()), surface));
        svg.append("<polyline fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"2\" "
                   + "stroke-linejoin=\"round\" points=\"")
            .append(path)
            .append("\"/>\n");
        for (Point point : points) {
            if (point.event() != null) {
                svg.append(String.format(Locale.ROOT,
                                         "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"4\" fill=\"#d62728\">"
                                             + "<title>event %d at %s min</title></circle>%n",
                                         x(time, point.minutes()), y(depth, point.depth()),
                                         point.event(), time.label(point.minutes())));
            }
        }
    }

    private static String line(double x1, double y1, double x2, double y2) {
        return String.format(Locale.ROOT,
                             "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>%n", x1,
                             y1, x2, y2);
    }

    private static double x(Axis time, double minutes) {
        return LEFT + time.fraction(minutes) * PLOT_WIDTH;
    }

    // Depth grows downwards.
    private static double y(Axis depth, double metres) {
        return TOP + depth.fraction(metres) * PLOT_HEIGHT;
    }

    private static String escape(String text) {
        StringBuilder escaped = new StringBuilder();
        for (char c : text.toCharArray()) {
            switch (c) {
                case '&' -> escaped.append("&amp;");
                case '<' -> escaped.append("&lt;");
                case '>' -> escaped.append("&gt;");
                case '"' -> escaped.append("&quot;");
                case '\'' -> escaped.append("&apos;");
                // XML 1.0 allows no other control characters.
                default -> {
                    boolean allowed = c >= 0x20 || c == '\t' || c == '\n' || c == '\r';
                    escaped.append(allowed ? c : '?');
                }
            }
        }
        return escaped.toString();
    }

    /** An axis from `low` to `high` widened to whole steps of 1, 2 or 5 times a power of ten. */
    private static final class Axis {
        private final double step;
        private final double start;
        private final double end;
        private final int decimals;

        Axis(double low, double high) {
            double raw = (high - low) / TARGET_TICKS;
            double magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
            double residual = raw / magnitude;
            step = magnitude * (residual <= 1 ? 1 : residual <= 2 ? 2 : residual <= 5 ? 5 : 10);
            start = Math.floor(low / step) * step;
            end = Math.ceil(high / step) * step;
            decimals = Math.max(0, (int) -Math.floor(Math.log10(step)));
        }

        List<Double> ticks() {
            List<Double> ticks = new ArrayList<>();
            long count = Math.round((end - start) / step);
            for (long i = 0; i <= count; i++) {
                ticks.add(start + i * step);
            }
            return ticks;
        }

        double fraction(double value) {
            return (value - start) / (end - start);
        }

        String label(double value) {
            return new BigDecimal(value).setScale(decimals, RoundingMode.HALF_UP).toPlainString();
        }
    }
}
