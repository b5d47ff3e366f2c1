package brenquill.main.java.tool;

import java.io.PrintStream;
import java.util.Locale;
import java.util.Optional;
import java.util.function.LongSupplier;

/**
 * A download's progress as one line on a terminal, redrawn in place: percentage, bytes, rate and
 * time left. {@link #end} moves past it before anything else is printed.
 */
final class ProgressBar {
    static final String WAITING = "Press the download button on your computer";
    // Set by the launcher when standard error is a terminal, which Java cannot tell on its own.
    private static final String TERMINAL_PROPERTY = "diveconnector.stderr.terminal";
    private static final int WIDTH = 24;
    // Redrawing faster than the eye reads only costs the terminal.
    private static final long REDRAW_NANOS = 100_000_000L;
    // What libdivecomputer's dive-by-dive backends (Shearwater, Suunto EON Steel, ...) report as
    // the maximum before they know the transfer's size.
    static final long UNKNOWN_MAXIMUM = 0xFFFFFFFFL;

    private final PrintStream terminal;
    private final LongSupplier nanoClock;
    private long startNanos;
    private long startCurrent;
    private long lastDrawNanos;
    private boolean started;
    private boolean waitingShown;
    private int drawnLength;

    ProgressBar(PrintStream terminal, LongSupplier nanoClock) {
        this.terminal = terminal;
        this.nanoClock = nanoClock;
    }

    /** A bar on standard error when it is a terminal, where redrawing a line works. */
    static Optional<ProgressBar> onTerminal(PrintStream err) {
        return Boolean.getBoolean(TERMINAL_PROPERTY)
                   ? Optional.of(new ProgressBar(err, System::nanoTime))
                   : Optional.empty();
    }

    /** The transfer has reached {@code current} of {@code maximum} bytes. */
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

    private String line(long current, long maximum, long elapsedNanos) {
        double fraction = maximum > 0 ? Math.min(1.0, (double) current / maximum) : 0.0;
        int filled = (int) Math.round(fraction * WIDTH);
        StringBuilder text = new StringBuilder();
        text.append(String.format(Locale.ROOT, "%3d%% [", (int) Math.floor(fraction * 100)));
        text.append("#".repeat(filled)).append(" ".repeat(WIDTH - filled)).append("] ");
        text.append(bytes(current)).append(" of ").append(bytes(maximum));
        double seconds = elapsedNanos / 1e9;
        long transferred = current - startCurrent;
        if (seconds > 0 && transferred > 0) {
            double rate = transferred / seconds;
            text.append(", ").append(bytes(Math.round(rate))).append("/s");
            if (current < maximum) {
                text.append(", ").append(duration(Math.round((maximum - current) / rate)))
                    .append(" left");
            }
        }
        return text.toString();
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

    static String bytes(long count) {
        if (count < 1024) {
            return count + " B";
        }
        if (count < 1024 * 1024) {
            return String.format(Locale.ROOT, "%.1f KiB", count / 1024.0);
        }
        return String.format(Locale.ROOT, "%.1f MiB", count / (1024.0 * 1024.0));
    }

    static String duration(long seconds) {
        if (seconds >= 3600) {
            return String.format(Locale.ROOT, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                                 seconds % 60);
        }
        return String.format(Locale.ROOT, "%d:%02d", seconds / 60, seconds % 60);
    }
}
