package brenquill.main.java.tool;

import java.io.PrintStream;
import java.util.Locale;
import java.util.Optional;
import java.util.function.LongSupplier;

/**
 * A download's progress as one line on a terminal, redrawn in place: percentage and time left,
 * within the terminal's width. {@link #end} moves past it before anything else is printed.
 *
 * <p>The counter has no unit the tool could name: libdivecomputer's memory-dump backends (Suunto
 * Vyper, Uwatec Aladin, ...) count bytes, the dive-by-dive ones steps of their own (Shearwater:
 * 10000 a dive) or files (Suunto EON Steel), dcsim the chunks of its transfer, and the event
 * says none of this. So the bar shows the fraction and the time it predicts, never a size.
 */
final class ProgressBar {
    static final String WAITING = "Press the download button on your computer";
    // Set by the launcher when standard error is a terminal, which Java cannot tell on its own.
    private static final String TERMINAL_PROPERTY = "diveconnector.stderr.terminal";
    // Set by the launcher to the terminal's width, when it can tell.
    private static final String COLUMNS_PROPERTY = "diveconnector.stderr.columns";
    private static final int DEFAULT_COLUMNS = 80;
    private static final int WIDTH = 24;
    // A bar narrower than this says less than the percentage beside it.
    private static final int NARROWEST = 5;
    private static final String LONGEST_LEFT = " 0:00:00 left";
    // Redrawing faster than the eye reads only costs the terminal.
    private static final long REDRAW_NANOS = 100_000_000L;
    // What libdivecomputer's dive-by-dive backends (Shearwater, Suunto EON Steel, ...) report as
    // the maximum before they know the transfer's size.
    static final long UNKNOWN_MAXIMUM = 0xFFFFFFFFL;

    private final PrintStream terminal;
    private final int columns;
    private final LongSupplier nanoClock;
    private long startNanos;
    private long startCurrent;
    private long lastDrawNanos;
    private boolean started;
    private boolean waitingShown;
    private int drawnLength;

    ProgressBar(PrintStream terminal, int columns, LongSupplier nanoClock) {
        this.terminal = terminal;
        this.columns = columns;
        this.nanoClock = nanoClock;
    }

    /** A bar on standard error when it is a terminal, where redrawing a line works. */
    static Optional<ProgressBar> onTerminal(PrintStream err) {
        if (!Boolean.getBoolean(TERMINAL_PROPERTY)) {
            return Optional.empty();
        }
        int columns = Integer.getInteger(COLUMNS_PROPERTY, DEFAULT_COLUMNS);
        return Optional.of(new ProgressBar(err, columns > 0 ? columns : DEFAULT_COLUMNS,
                                           System::nanoTime));
    }

    /** The transfer has reached {@code current} of {@code maximum}. */
    void progress(long current, long maximum) {
        if (maximum == UNKNOWN_MAXIMUM) {
            return;
        }
        long now = nanoClock.getAsLong();
        if (!started) {
            started = true;
            startNanos = now;
            startCurrent = current;
        } else if (now - lastDrawNanos < REDRAW_NANOS && current < maximum) {
            return;
        }
        lastDrawNanos = now;
        draw(line(current, maximum, now - startNanos));
    }

    /** Asks the diver, once per download, to start the transfer on the computer. */
    void waiting() {
        if (waitingShown) {
            return;
        }
        waitingShown = true;
        clear();
        terminal.println(WAITING);
        terminal.flush();
    }

    /** Ends the bar's line, so that what follows starts on a line of its own. */
    void end() {
        if (drawnLength > 0) {
            terminal.println();
            terminal.flush();
            drawnLength = 0;
        }
    }

    /** The line, one column short of the terminal's width: a full line wraps on some. */
    private String line(long current, long maximum, long elapsedNanos) {
        double fraction = maximum > 0 ? Math.min(1.0, (double) current / maximum) : 0.0;
        String percent = String.format(Locale.ROOT, "%3d%%", (int) Math.floor(fraction * 100));
        String left = "";
        double seconds = elapsedNanos / 1e9;
        long transferred = current - startCurrent;
        if (seconds > 0 && transferred > 0 && current < maximum) {
            double rate = transferred / seconds;
            left = " " + DiveTable.duration(Math.round((maximum - current) / rate)) + " left";
        }
        int room = columns - 1;
        // The time left comes and goes; the bar keeps its width.
        int width = Math.min(WIDTH, room - percent.length() - LONGEST_LEFT.length() - 3);
        if (width < NARROWEST) {
            String text = percent + left;
            return text.length() <= room ? text : percent.substring(0, Math.min(4, room));
        }
        int filled = (int) Math.round(fraction * width);
        return percent + " [" + "#".repeat(filled) + " ".repeat(width - filled) + "]" + left;
    }

    private void draw(String text) {
        // Spaces cover the rest of a longer line drawn before.
        int padding = Math.max(0, drawnLength - text.length());
        terminal.print("\r" + text + " ".repeat(padding));
        terminal.flush();
        drawnLength = text.length();
    }

    private void clear() {
        if (drawnLength > 0) {
            terminal.print("\r" + " ".repeat(drawnLength) + "\r");
            drawnLength = 0;
        }
    }

}
