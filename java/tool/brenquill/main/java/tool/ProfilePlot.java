package brenquill.main.java.tool;

import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.GasUsage;
import java.io.IOException;
import java.io.Writer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.TreeSet;

/**
 * A dive's profile as an SVG image, as a diver reads it: depth in metres growing downwards over
 * time in minutes, with the water temperature and the tank pressure on axes of their own at the
 * right when the dive has them, the events marked on the depth line and a legend below. From the
 * dive's details come the gas switches, each a dashed line across the plot named by its gas, and
 * the decompression ceiling, shaded from the surface down to it wherever the computer gives a
 * decompression stop.
 *
 * <p>A value a sample lacks (or that is no finite number) is never drawn as zero. Where a series
 * misses values for longer than twice its usual spacing, its line has a gap; a series that is
 * simply recorded less often than the depth, as temperature often is, stays one line. A point
 * without a neighbour in its line is drawn as a dot.
 */
final class ProfilePlot {
    private static final int WIDTH = 960;
    private static final int LEFT = 80;
    private static final int RIGHT = 30;
    private static final int RIGHT_AXIS_WIDTH = 75;
    private static final int TOP = 80;
    private static final int PLOT_HEIGHT = 350;
    private static final int TIME_AXIS_HEIGHT = 55;
    private static final int LEGEND_ROW = 22;
    private static final int LEGEND_CHARACTER = 7;
    private static final int LEGEND_SYMBOL = 34;
    private static final int TICK_LENGTH = 6;
    private static final double SECONDS_PER_MINUTE = 60;
    private static final double DEPTH_HEADROOM = 1.05;
    // Room beyond the extremes of the other series, so their lines do not run along the frame.
    private static final double VALUE_MARGIN = 0.05;
    // A gap in a series is a stretch without values longer than this many of its usual spacings.
    private static final double GAP_SPACINGS = 2;

    private static final String DEPTH_COLOUR = "#1f5fa8";
    private static final String TEMPERATURE_COLOUR = "#d62728";
    private static final String PRESSURE_COLOUR = "#2ca02c";
    private static final String GAS_CHANGE_COLOUR = "#ff7f0e";
    private static final String CEILING_COLOUR = "#b2182b";
    private static final String CEILING_FILL = "#f4a582";
    private static final int PERCENT = 100;
    private static final String[] EVENT_COLOURS = {"#6a3d9a", "#8c564b", "#e377c2", "#17becf",
                                                   "#7f7f7f", "#bcbd22", "#000000"};

    // libdivecomputer's SAMPLE_EVENT_* types, by number.
    private static final String[] EVENT_NAMES = {
        "No event", "Deco stop", "RBT", "Ascent", "Ceiling", "Workload", "Transmitter",
        "Violation", "Bookmark", "Surface", "Safety stop", "Gas change",
        "Safety stop (voluntary)", "Safety stop (mandatory)", "Deep stop",
        "Ceiling (safety stop)", "Floor", "Dive time", "Max depth", "OLF", "PO2", "Air time",
        "RGBM", "Heading", "Tissue level", "Gas change"};
    private static final int GAS_CHANGE = 11;
    private static final int GAS_CHANGE2 = 25;

    /** One value of a series at a time in minutes. */
    private record Point(double minutes, double value) {}

    /** A quantity of the profile, its points split into lines at its gaps. */
    private record Series(String name, String label, String colour, List<List<Point>> lines) {
        boolean isEmpty() {
            return lines.isEmpty();
        }

        double min() {
            return lines.stream().flatMap(List::stream).mapToDouble(Point::value).min().orElse(0);
        }

        double max() {
            return lines.stream().flatMap(List::stream).mapToDouble(Point::value).max().orElse(0);
        }
    }

    /** An event at a time in minutes, placed at the depth of the line there. */
    private record Event(double minutes, double depth, int type) {}

    /** A switch to a gas, named for the diver, at a time in minutes. */
    private record GasSwitch(double minutes, String gas) {}

    /** A series with the axis it is drawn against and whether that axis grows downwards. */
    private record Scale(Series series, PlotAxis axis, boolean downwards) {
        double y(double value) {
            double fraction = axis.fraction(value);
            return TOP + (downwards ? fraction : 1 - fraction) * PLOT_HEIGHT;
        }
    }

    private ProfilePlot() {}

    /**
     * "dive-2024-05-10_07-30-00.svg": the dive's date and time alone, so that the plots of a later
     * download never take an earlier one's name; the second and later dive of the same date and
     * time in one download (a computer without a clock) get "_2", "_3", ... before ".svg", sorting
     * after it.
     */
    static String fileName(Dive dive, int repeat) {
        StringBuilder name = new StringBuilder("dive-");
        for (char c : dive.getDateTime().toCharArray()) {
            boolean plain = c < 0x80 && (Character.isLetterOrDigit(c) || c == '-');
            name.append(plain ? c : c == ':' ? '-' : '_');
        }
        if (repeat > 1) {
            name.append('_').append(repeat);
        }
        return name.append(".svg").toString();
    }

    static void write(Writer out, int number, DownloadedDive dive) throws IOException {
        out.write(svg(number, dive.dive(), dive.details()));
    }

    private static boolean present(Number value) {
        return value != null && Double.isFinite(value.doubleValue());
    }

    private static Series series(String name, String label, String colour, Float[] time,
                                 Float[] values) {
        List<Integer> samples = new ArrayList<>();
        for (int i = 0; i < time.length; i++) {
            if (present(time[i]) && present(values[i])) {
                samples.add(i);
            }
        }
        double[] spacings = new double[Math.max(0, samples.size() - 1)];
        for (int i = 1; i < samples.size(); i++) {
            spacings[i - 1] = Math.abs(time[samples.get(i)] - time[samples.get(i - 1)]);
        }
        Arrays.sort(spacings);
        double usual = spacings.length == 0 ? 0 : spacings[spacings.length / 2];

        List<List<Point>> lines = new ArrayList<>();
        List<Point> line = new ArrayList<>();
        for (int k = 0; k < samples.size(); k++) {
            int i = samples.get(k);
            if (k > 0) {
                int previous = samples.get(k - 1);
                boolean missing = i > previous + 1
                    && Math.abs(time[i] - time[previous]) > GAP_SPACINGS * usual;
                if (missing) {
                    lines.add(line);
                    line = new ArrayList<>();
                }
            }
            line.add(new Point(time[i] / SECONDS_PER_MINUTE, values[i]));
        }
        if (!line.isEmpty()) {
            lines.add(line);
        }
        return new Series(name, label, colour, lines);
    }

    private static List<Event> events(Dive dive, Series depth) {
        Float[] time = dive.getTimeProfile();
        Integer[] types = dive.getEventProfile();
        List<Point> depths = depth.lines().stream().flatMap(List::stream).toList();
        List<Event> events = new ArrayList<>();
        for (int i = 0; i < time.length; i++) {
            if (present(time[i]) && types[i] != null) {
                double minutes = time[i] / SECONDS_PER_MINUTE;
                events.add(new Event(minutes, depthAt(depths, minutes), types[i]));
            }
        }
        return events;
    }

    /**
     * The ceiling while the computer gives a decompression stop: a line per stretch of time
     * samples with a stop, ended by a sample with none (no-stop time, a safety or deep stop).
     */
    private static Series ceiling(Optional<DiveDetails> details) {
        List<List<Point>> lines = new ArrayList<>();
        if (details.isEmpty()) {
            return new Series("ceiling", "Deco ceiling", CEILING_COLOUR, lines);
        }
        DiveSamples samples = details.get().samples();
        double[] times = samples.times();
        int[] at = samples.decoSamples();
        int[] types = samples.decoTypes();
        double[] depths = samples.decoDepths();
        List<Point> line = new ArrayList<>();
        for (int i = 0; i < at.length; i++) {
            // The last status of a time sample counts.
            if (i + 1 < at.length && at[i + 1] == at[i]) {
                continue;
            }
            boolean stop = types[i] == DiveSamples.DECO_STOP && at[i] < times.length
                && Double.isFinite(times[at[i]]) && Double.isFinite(depths[i]);
            if (stop) {
                line.add(new Point(times[at[i]] / SECONDS_PER_MINUTE, depths[i]));
            } else if (!line.isEmpty()) {
                lines.add(line);
                line = new ArrayList<>();
            }
        }
        if (!line.isEmpty()) {
            lines.add(line);
        }
        return new Series("ceiling", "Deco ceiling", CEILING_COLOUR, lines);
    }

    private static List<GasSwitch> gasSwitches(Optional<DiveDetails> details) {
        List<GasSwitch> switches = new ArrayList<>();
        if (details.isEmpty()) {
            return switches;
        }
        DiveSamples samples = details.get().samples();
        double[] times = samples.times();
        int[] at = samples.gasSwitchSamples();
        int[] mixes = samples.gasSwitches();
        for (int i = 0; i < at.length; i++) {
            if (at[i] < times.length && Double.isFinite(times[at[i]])) {
                switches.add(new GasSwitch(times[at[i]] / SECONDS_PER_MINUTE,
                                           gasName(details.get(), mixes[i])));
            }
        }
        return switches;
    }

    /** "Tx 10/50 (diluent)": the mix as the table names a gas, and whose it is on a rebreather. */
    private static String gasName(DiveDetails details, int index) {
        for (GasMix mix : details.gasMixes()) {
            if (mix.index() == index) {
                String name;
                try {
                    name = Gas.blendGas((int) Math.round(mix.oxygen() * PERCENT),
                                        (int) Math.round(mix.helium() * PERCENT))
                               .toString();
                } catch (IllegalArgumentException e) {
                    name = "mix " + Integer.toUnsignedString(index);
                }
                Optional<GasUsage> usage = mix.usage();
                boolean rebreather =
                    usage.isPresent() && (usage.get() == GasUsage.OXYGEN
                                          || usage.get() == GasUsage.DILUENT);
                return rebreather ? name + " (" + usage.get().name().toLowerCase(Locale.ROOT) + ")"
                                  : name;
            }
        }
        return "mix " + Integer.toUnsignedString(index);
    }

    /** The depth line's depth at a time: between its points, or at the nearest end; 0 without. */
    private static double depthAt(List<Point> depths, double minutes) {
        Point before = null;
        Point after = null;
        for (Point point : depths) {
            if (point.minutes() <= minutes
                && (before == null || point.minutes() >= before.minutes())) {
                before = point;
            }
            if (point.minutes() >= minutes
                && (after == null || point.minutes() < after.minutes())) {
                after = point;
            }
        }
        if (before == null || after == null) {
            return before != null ? before.value() : after != null ? after.value() : 0;
        }
        if (after.minutes() == before.minutes()) {
            return before.value();
        }
        double share = (minutes - before.minutes()) / (after.minutes() - before.minutes());
        return before.value() + share * (after.value() - before.value());
    }

    static String eventName(int type) {
        return type >= 0 && type < EVENT_NAMES.length ? EVENT_NAMES[type]
                                                      : "Event " + Integer.toUnsignedString(type);
    }

    private static boolean isGasChange(int type) {
        return type == GAS_CHANGE || type == GAS_CHANGE2;
    }

    private static String eventColour(int type) {
        return isGasChange(type) ? GAS_CHANGE_COLOUR
                                 : EVENT_COLOURS[Math.floorMod(type, EVENT_COLOURS.length)];
    }

    private static String svg(int number, Dive dive, Optional<DiveDetails> details) {
        Float[] time = dive.getTimeProfile();
        Series depth = series("depth", "Depth (m)", DEPTH_COLOUR, time, dive.getDepthProfile());
        Series temperature = series("temperature", "Temperature (\u00b0C)", TEMPERATURE_COLOUR,
                                    time, dive.getTemperatureProfile());
        Series pressure = series("pressure", "Tank pressure (bar)", PRESSURE_COLOUR, time,
                                 dive.getPressureProfile());
        List<Event> events = events(dive, depth);
        Series ceiling = ceiling(details);
        List<GasSwitch> switches = gasSwitches(details);

        double firstMinute = 0;
        double lastMinute = 1;
        for (Float sample : time) {
            if (present(sample)) {
                firstMinute = Math.min(firstMinute, sample / SECONDS_PER_MINUTE);
                lastMinute = Math.max(lastMinute, sample / SECONDS_PER_MINUTE);
            }
        }
        PlotAxis minutes = new PlotAxis(firstMinute, lastMinute);
        // Some room below the deepest point, so the profile does not run along the frame.
        Scale depthScale = new Scale(depth, new PlotAxis(Math.min(0, depth.min()),
                                                         Math.max(1, depth.max()) * DEPTH_HEADROOM),
                                     true);
        List<Scale> right = new ArrayList<>();
        if (!temperature.isEmpty()) {
            double margin = (temperature.max() - temperature.min()) * VALUE_MARGIN;
            right.add(new Scale(temperature, new PlotAxis(temperature.min() - margin,
                                                          temperature.max() + margin),
                                false));
        }
        if (!pressure.isEmpty()) {
            double low = Math.min(0, pressure.min());
            double high = pressure.max() + (pressure.max() - low) * VALUE_MARGIN;
            right.add(new Scale(pressure, new PlotAxis(low, high), false));
        }
        int plotWidth = WIDTH - LEFT - RIGHT - right.size() * RIGHT_AXIS_WIDTH;
        Frame frame = new Frame(minutes, plotWidth);

        List<String[]> legend = new ArrayList<>();
        legend.add(new String[] {"line", DEPTH_COLOUR, depth.label()});
        for (Scale scale : right) {
            legend.add(new String[] {"line", scale.series().colour(), scale.series().label()});
        }
        if (!ceiling.isEmpty()) {
            legend.add(new String[] {"line", CEILING_COLOUR, ceiling.label()});
        }
        if (!switches.isEmpty()) {
            legend.add(new String[] {"dashed", GAS_CHANGE_COLOUR, "Gas switch"});
        }
        // libdivecomputer's types are unsigned.
        TreeSet<Integer> kinds = new TreeSet<>(Integer::compareUnsigned);
        for (Event event : events) {
            // Both gas-change types share one entry.
            kinds.add(isGasChange(event.type()) ? GAS_CHANGE : event.type());
        }
        for (int kind : kinds) {
            legend.add(new String[] {isGasChange(kind) ? "diamond" : "dot", eventColour(kind),
                                     eventName(kind)});
        }
        List<List<String[]>> legendRows = legendRows(legend);
        int height = TOP + PLOT_HEIGHT + TIME_AXIS_HEIGHT + legendRows.size() * LEGEND_ROW + 10;

        StringBuilder svg = new StringBuilder();
        svg.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        svg.append(String.format(Locale.ROOT,
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" "
                                     + "height=\"%d\" viewBox=\"0 0 %d %d\" "
                                     + "font-family=\"sans-serif\" font-size=\"13\">%n",
                                 WIDTH, height, WIDTH, height));
        String title = "Dive " + number + ": " + dive.getDateTime() + ", " + dive.getGas();
        svg.append("<title>").append(escape(title)).append("</title>\n");
        svg.append("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
        svg.append(String.format(Locale.ROOT,
                                 "<text x=\"%d\" y=\"32\" text-anchor=\"middle\" font-size=\"20\" "
                                     + "font-weight=\"bold\">%s</text>%n",
                                 WIDTH / 2, escape(title)));
        svg.append(String.format(Locale.ROOT,
                                 "<text x=\"%d\" y=\"56\" text-anchor=\"middle\" fill=\"#444\">"
                                     + "%s, max depth %s, %d %s</text>%n",
                                 WIDTH / 2, escape(DiveTable.duration(dive.getDiveTime())),
                                 escape(DiveTable.depth(dive.getMaxDepth())),
                                 dive.getSampleCount(),
                                 dive.getSampleCount() == 1 ? "sample" : "samples"));

        frame.grid(svg, depthScale);
        frame.timeAxis(svg);
        frame.valueAxis(svg, depthScale, LEFT, -1);
        for (int i = 0; i < right.size(); i++) {
            frame.valueAxis(svg, right.get(i), LEFT + plotWidth + i * RIGHT_AXIS_WIDTH, 1);
        }
        frame.depthFill(svg, depthScale);
        Scale ceilingScale = new Scale(ceiling, depthScale.axis(), true);
        frame.ceilingFill(svg, ceilingScale);
        frame.gasSwitches(svg, switches);
        for (Scale scale : right) {
            frame.lines(svg, scale);
        }
        frame.lines(svg, ceilingScale);
        frame.lines(svg, depthScale);
        frame.events(svg, events, depthScale);
        svg.append(String.format(Locale.ROOT,
                                 "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" "
                                     + "stroke=\"black\"/>%n",
                                 LEFT, TOP, plotWidth, PLOT_HEIGHT));
        if (depth.isEmpty()) {
            svg.append(String.format(Locale.ROOT,
                                     "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" "
                                         + "fill=\"#888\">No depth samples</text>%n",
                                     LEFT + plotWidth / 2, TOP + PLOT_HEIGHT / 2));
        }
        legend(svg, legendRows, TOP + PLOT_HEIGHT + TIME_AXIS_HEIGHT);
        svg.append("</svg>\n");
        return svg.toString();
    }

    /** The legend's entries in rows that fit the image's width. */
    private static List<List<String[]>> legendRows(List<String[]> entries) {
        List<List<String[]>> rows = new ArrayList<>();
        List<String[]> row = new ArrayList<>();
        int used = 0;
        for (String[] entry : entries) {
            int width = entryWidth(entry);
            if (!row.isEmpty() && used + width > WIDTH - 2 * LEFT) {
                rows.add(row);
                row = new ArrayList<>();
                used = 0;
            }
            row.add(entry);
            used += width;
        }
        rows.add(row);
        return rows;
    }

    private static int entryWidth(String[] entry) {
        return LEGEND_SYMBOL + entry[2].length() * LEGEND_CHARACTER + 2 * LEGEND_CHARACTER;
    }

    private static void legend(StringBuilder svg, List<List<String[]>> rows, int top) {
        svg.append("<g class=\"legend\">\n");
        for (int r = 0; r < rows.size(); r++) {
            double y = top + r * LEGEND_ROW + LEGEND_ROW / 2.0;
            int x = LEFT;
            for (String[] entry : rows.get(r)) {
                switch (entry[0]) {
                    case "line" -> svg.append(String.format(
                        Locale.ROOT,
                        "<line x1=\"%d\" y1=\"%.2f\" x2=\"%d\" y2=\"%.2f\" stroke=\"%s\" "
                            + "stroke-width=\"2\"/>%n",
                        x, y, x + LEGEND_SYMBOL - 8, y, entry[1]));
                    case "diamond" -> svg.append(diamond(x + 12, y, entry[1]));
                    case "dashed" -> svg.append(String.format(
                        Locale.ROOT,
                        "<line x1=\"%d\" y1=\"%.2f\" x2=\"%d\" y2=\"%.2f\" stroke=\"%s\" "
                            + "stroke-width=\"2\" stroke-dasharray=\"5,3\"/>%n",
                        x, y, x + LEGEND_SYMBOL - 8, y, entry[1]));
                    default -> svg.append(String.format(
                        Locale.ROOT, "<circle cx=\"%d\" cy=\"%.2f\" r=\"4\" fill=\"%s\"/>%n",
                        x + 12, y, entry[1]));
                }
                svg.append(String.format(Locale.ROOT, "<text x=\"%d\" y=\"%.2f\">%s</text>%n",
                                         x + LEGEND_SYMBOL, y + 4, escape(entry[2])));
                x += entryWidth(entry);
            }
        }
        svg.append("</g>\n");
    }

    private static String diamond(double x, double y, String colour) {
        return String.format(Locale.ROOT,
                             "<path d=\"M%.2f,%.2f l6,6 l-6,6 l-6,-6 z\" fill=\"%s\" "
                                 + "stroke=\"white\"/>%n",
                             x, y - 6, colour);
    }

    /** The plot area: time across, in minutes. */
    private record Frame(PlotAxis time, int width) {
        double x(double minutes) {
            return LEFT + time.fraction(minutes) * width;
        }

        void grid(StringBuilder svg, Scale depth) {
            svg.append("<g stroke=\"#ddd\">\n");
            for (double tick : time.ticks()) {
                svg.append(line(x(tick), TOP, x(tick), TOP + PLOT_HEIGHT));
            }
            for (double tick : depth.axis().ticks()) {
                svg.append(line(LEFT, depth.y(tick), LEFT + width, depth.y(tick)));
            }
            svg.append("</g>\n");
        }

        void timeAxis(StringBuilder svg) {
            svg.append("<g stroke=\"black\">\n");
            for (double tick : time.ticks()) {
                svg.append(line(x(tick), TOP + PLOT_HEIGHT, x(tick),
                                TOP + PLOT_HEIGHT + TICK_LENGTH));
            }
            svg.append("</g>\n<g text-anchor=\"middle\">\n");
            for (double tick : time.ticks()) {
                svg.append(String.format(Locale.ROOT, "<text x=\"%.2f\" y=\"%d\">%s</text>%n",
                                         x(tick), TOP + PLOT_HEIGHT + TICK_LENGTH + 15,
                                         time.label(tick)));
            }
            svg.append(String.format(Locale.ROOT, "<text x=\"%d\" y=\"%d\">Time (min)</text>%n",
                                     LEFT + width / 2, TOP + PLOT_HEIGHT + TIME_AXIS_HEIGHT - 12));
            svg.append("</g>\n");
        }

        /** Ticks, labels and title of a value axis at x; side -1 is the left, 1 the right. */
        void valueAxis(StringBuilder svg, Scale scale, int x, int side) {
            String colour = scale.series().colour();
            svg.append(String.format(Locale.ROOT, "<g stroke=\"%s\">%n", colour));
            svg.append(line(x, TOP, x, TOP + PLOT_HEIGHT));
            for (double tick : scale.axis().ticks()) {
                svg.append(line(x, scale.y(tick), x + side * TICK_LENGTH, scale.y(tick)));
            }
            svg.append(String.format(Locale.ROOT, "</g>%n<g fill=\"%s\" text-anchor=\"%s\">%n",
                                     colour, side < 0 ? "end" : "start"));
            for (double tick : scale.axis().ticks()) {
                svg.append(String.format(Locale.ROOT, "<text x=\"%d\" y=\"%.2f\">%s</text>%n",
                                         x + side * (TICK_LENGTH + 4), scale.y(tick) + 4,
                                         scale.axis().label(tick)));
            }
            int titleX = side < 0 ? 24 : x + RIGHT_AXIS_WIDTH - 14;
            svg.append(String.format(Locale.ROOT,
                                     "<text transform=\"translate(%d %d) rotate(-90)\" "
                                         + "text-anchor=\"middle\">%s</text>%n</g>%n",
                                     titleX, TOP + PLOT_HEIGHT / 2,
                                     escape(scale.series().label())));
        }

        /** The water above the depth line, surface to line, under each stretch of it. */
        void depthFill(StringBuilder svg, Scale depth) {
            double surface = depth.y(0);
            for (List<Point> points : depth.series().lines()) {
                if (points.size() > 1) {
                    svg.append(String.format(Locale.ROOT,
                                             "<polygon fill=\"#cfe3f7\" points=\"%.2f,%.2f %s "
                                                 + "%.2f,%.2f\"/>%n",
                                             x(points.get(0).minutes()), surface,
                                             coordinates(points, depth),
                                             x(points.get(points.size() - 1).minutes()),
                                             surface));
                }
            }
        }

        /** The water above the ceiling, surface to ceiling, under each stretch of it. */
        void ceilingFill(StringBuilder svg, Scale ceiling) {
            double surface = ceiling.y(0);
            for (List<Point> points : ceiling.series().lines()) {
                svg.append(String.format(Locale.ROOT,
                                         "<polygon class=\"ceiling\" fill=\"%s\" "
                                             + "fill-opacity=\"0.6\" points=\"%.2f,%.2f %s "
                                             + "%.2f,%.2f\"/>%n",
                                         CEILING_FILL, x(points.get(0).minutes()), surface,
                                         coordinates(points, ceiling),
                                         x(points.get(points.size() - 1).minutes()), surface));
            }
        }

        /** A dashed line across the plot at each switch, the gas written along it. */
        void gasSwitches(StringBuilder svg, List<GasSwitch> switches) {
            for (GasSwitch change : switches) {
                double x = x(change.minutes());
                String title = String.format(Locale.ROOT,
                                             "<title>Gas switch to %s at %s min</title>",
                                             escape(change.gas()), time.label(change.minutes()));
                svg.append(String.format(Locale.ROOT,
                                         "<g class=\"gas-switch\">%s<line x1=\"%.2f\" "
                                             + "y1=\"%d\" x2=\"%.2f\" y2=\"%d\" stroke=\"%s\" "
                                             + "stroke-width=\"1.5\" stroke-dasharray=\"5,3\"/>"
                                             + "<text transform=\"translate(%.2f %d) rotate(-90)\" "
                                             + "text-anchor=\"end\" font-size=\"11\" "
                                             + "fill=\"%s\">%s</text></g>%n",
                                         title, x, TOP, x, TOP + PLOT_HEIGHT, GAS_CHANGE_COLOUR,
                                         x - 3, TOP + 4, GAS_CHANGE_COLOUR, escape(change.gas())));
            }
        }

        void lines(StringBuilder svg, Scale scale) {
            Series series = scale.series();
            for (List<Point> points : series.lines()) {
                if (points.size() == 1) {
                    Point point = points.get(0);
                    svg.append(String.format(Locale.ROOT,
                                             "<circle class=\"%s\" cx=\"%.2f\" cy=\"%.2f\" r=\"4\" "
                                                 + "fill=\"%s\"/>%n",
                                             series.name(), x(point.minutes()),
                                             scale.y(point.value()), series.colour()));
                } else {
                    svg.append(String.format(Locale.ROOT,
                                             "<polyline class=\"%s\" fill=\"none\" stroke=\"%s\" "
                                                 + "stroke-width=\"2\" stroke-linejoin=\"round\" "
                                                 + "points=\"%s\"/>%n",
                                             series.name(), series.colour(),
                                             coordinates(points, scale)));
                }
            }
        }

        void events(StringBuilder svg, List<Event> events, Scale depth) {
            for (Event event : events) {
                double x = x(event.minutes());
                double y = depth.y(event.depth());
                String colour = eventColour(event.type());
                String title = String.format(Locale.ROOT, "<title>%s at %s min</title>",
                                             escape(eventName(event.type())),
                                             time.label(event.minutes()));
                if (isGasChange(event.type())) {
                    svg.append("<g class=\"event\">").append(diamond(x, y, colour).strip())
                        .append(title).append("</g>\n");
                } else {
                    svg.append(String.format(Locale.ROOT,
                                             "<circle class=\"event\" cx=\"%.2f\" cy=\"%.2f\" "
                                                 + "r=\"4\" fill=\"%s\" stroke=\"white\">%s"
                                                 + "</circle>%n",
                                             x, y, colour, title));
                }
            }
        }

        private String coordinates(List<Point> points, Scale scale) {
            StringBuilder text = new StringBuilder();
            for (Point point : points) {
                if (text.length() > 0) {
                    text.append(' ');
                }
                text.append(String.format(Locale.ROOT, "%.2f,%.2f", x(point.minutes()),
                                          scale.y(point.value())));
            }
            return text.toString();
        }
    }

    private static String line(double x1, double y1, double x2, double y2) {
        return String.format(Locale.ROOT,
                             "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>%n", x1,
                             y1, x2, y2);
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
}
