package brenquill.main.java.tool;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.atomic.AtomicLong;
import org.junit.jupiter.api.Test;

/** The tool's progress bar, on a clock the test sets. */
class ProgressBarTest {
    private static final long MILLIS = 1_000_000L;

    private final ByteArrayOutputStream shown = new ByteArrayOutputStream();
    private final AtomicLong clock = new AtomicLong(5_000 * MILLIS);
    private final ProgressBar bar =
        new ProgressBar(new PrintStream(shown, true, StandardCharsets.UTF_8), clock::get);

    private String taken() {
        String text = shown.toString(StandardCharsets.UTF_8);
        shown.reset();
        return text;
    }

    @Test
    void theBarShowsPercentageBytesRateAndTimeLeftAndPadsOverALongerLine() {
        bar.progress(0, 4 * 1024 * 1024);
        assertEquals("\r  0% [                        ] 0 B of 4.0 MiB", taken());

        clock.addAndGet(2_000 * MILLIS);
        bar.progress(1024 * 1024, 4 * 1024 * 1024);
        String quarter =
            "\r 25% [######                  ] 1.0 MiB of 4.0 MiB, 512.0 KiB/s, 0:06 left";
        assertEquals(quarter, taken());

        // The maximum may grow; a shorter line covers what is left of the longer one.
        clock.addAndGet(2_000 * MILLIS);
        bar.progress(2 * 1024 * 1024, 2 * 1024 * 1024);
        String full = "\r100% [########################] 2.0 MiB of 2.0 MiB, 512.0 KiB/s";
        assertEquals(full + " ".repeat(quarter.length() - full.length()), taken());

        bar.end();
        assertEquals("\n", taken());
        bar.end();
        assertEquals("", taken(), "one line end per bar");
    }

    @Test
    void redrawsAreThrottledButTheLastIsAlwaysShown() {
        bar.progress(0, 100);
        taken();
        clock.addAndGet(50 * MILLIS);
        bar.progress(10, 100);
        assertEquals("", taken());
        clock.addAndGet(10 * MILLIS);
        bar.progress(100, 100);
        assertEquals("100% [########################] 100 B of 100 B, 1.6 KiB/s",
                     taken().strip());
    }

    @Test
    void hoursLeftAndAnUnknownMaximumNeitherBreakTheLine() {
        // Not 4096 MiB: the real libdivecomputer's "size not known yet".
        bar.progress(0, ProgressBar.UNKNOWN_MAXIMUM);
        assertEquals("", taken());
        bar.progress(0, 0);
        assertEquals("\r  0% [                        ] 0 B of 0 B", taken());
        clock.addAndGet(1_000 * MILLIS);
        bar.progress(1, 10_000);
        assertEquals("\r  0% [                        ] 1 B of 9.8 KiB, 1 B/s, 2:46:39 left",
                     taken());
        assertEquals("59:59", ProgressBar.duration(3599));
    }

    @Test
    void theWaitIsShownOnceOnALineOfItsOwnAndTheBarReturnsAfterIt() {
        bar.progress(0, 10);
        String drawn = taken();
        bar.waiting();
        String cleared = "\r" + " ".repeat(drawn.length() - 1) + "\r";
        assertEquals(cleared + ProgressBar.WAITING + System.lineSeparator(), taken());
        bar.waiting();
        assertEquals("", taken());
        bar.end();
        assertEquals("", taken(), "the wait already ended the line");
        assertEquals("Press the download button on your computer", ProgressBar.WAITING);
    }
}
