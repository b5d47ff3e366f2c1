package brenquill.main.java.tool;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

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
    private final ProgressBar bar = barOf(80);

    private ProgressBar barOf(int columns) {
        return new ProgressBar(new PrintStream(shown, true, StandardCharsets.UTF_8), columns,
                               clock::get);
    }

    private String taken() {
        String text = shown.toString(StandardCharsets.UTF_8);
        shown.reset();
        return text;
    }

    @Test
    void theBarShowsPercentageAndTimeLeftAndPadsOverALongerLine() {
        bar.progress(0, 4 * 1024 * 1024);
        assertEquals("\r  0% [                        ]", taken());

        clock.addAndGet(2_000 * MILLIS);
        bar.progress(1024 * 1024, 4 * 1024 * 1024);
        String quarter = "\r 25% [######                  ] 0:00:06 left";
        assertEquals(quarter, taken());

        // The maximum may grow; a shorter line covers what is left of the longer one.
        clock.addAndGet(2_000 * MILLIS);
        bar.progress(2 * 1024 * 1024, 2 * 1024 * 1024);
        String full = "\r100% [########################]";
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
        assertEquals("100% [########################]", taken().strip());
    }

    @Test
    void hoursLeftAndAnUnknownMaximumNeitherBreakTheLine() {
        // Not 4096 MiB: the real libdivecomputer's "size not known yet".
        bar.progress(0, ProgressBar.UNKNOWN_MAXIMUM);
        assertEquals("", taken());
        bar.progress(0, 0);
        assertEquals("\r  0% [                        ]", taken());
        clock.addAndGet(1_000 * MILLIS);
        bar.progress(1, 10_000);
        assertEquals("\r  0% [                        ] 2:46:39 left", taken());
    }

    // A terminal's last column wraps the line on some terminals: the line stops one short. The
    // bar keeps room for the time left, so that it keeps its width when that comes and goes.
    @Test
    void aNarrowTerminalGetsAShorterBarAndThenNoneButNeverAWrappedLine() {
        String[][] cases = {
            // columns, the line at a quarter with 6 s left
            {"80", " 25% [######                  ] 0:00:06 left"},
            {"40", " 25% [#####              ] 0:00:06 left"},
            {"30", " 25% [##       ] 0:00:06 left"},
            {"18", " 25% 0:00:06 left"},
            {"10", " 25%"},
        };
        for (String[] width : cases) {
            ProgressBar narrow = barOf(Integer.parseInt(width[0]));
            narrow.progress(0, 4000);
            taken();
            clock.addAndGet(2_000 * MILLIS);
            narrow.progress(1000, 4000);
            String line = taken();
            assertEquals("\r" + width[1], line, width[0]);
            assertTrue(line.length() - 1 < Integer.parseInt(width[0]), width[0]);
        }
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
