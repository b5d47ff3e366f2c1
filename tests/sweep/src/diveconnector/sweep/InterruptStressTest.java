package diveconnector.sweep;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import diveconnector.testing.DcSim;
import java.util.Arrays;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.ScheduledExecutorService;
import java.util.concurrent.ScheduledFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Downloads from a slow dive computer, each interrupted by interruptDeviceDownload from another
 * thread at a random moment. The count comes from -Dstress.downloads, the seed from
 * -Dstress.seed (printed, so that a failing run can be repeated).
 */
class InterruptStressTest {
    private static final String PORT = "stress:slow";
    private static final int DIVES = 10;
    /** Four chunks 2 ms apart per dive: each dive gives the interruption several moments. */
    private static final String SLOW_COMPUTER = "devinfo 0x30 0x0200 777001\n"
                                                + "serial " + PORT + "\n"
                                                + "transfer 4 2\n"
                                                + "generate " + DIVES
                                                + " samples=60 tanks=2 oxygen=32\n";
    private static final long TIMEOUT_SECONDS = 30;

    @Test
    void everyInterruptedDownloadEndsWithTheNewestDivesInOrder() throws Exception {
        int downloads = Stress.count("downloads", 150);
        long seed = Long.getLong("stress.seed", System.nanoTime());
        System.out.println("interrupted downloads: " + downloads + ", seed " + seed);
        Random random = new Random(seed);
        DcSim.reset();
        DcSim.attach(SLOW_COMPUTER);

        // The quickest of a few whole downloads: the first pays for loading and compiling.
        Download full = null;
        long fullNanos = Long.MAX_VALUE;
        for (int warmup = 0; warmup < 3; warmup++) {
            long start = System.nanoTime();
            full = Download.run(PORT, Stress.VENDOR, Stress.PRODUCT);
            fullNanos = Math.min(fullNanos, System.nanoTime() - start);
            assertNull(full.thrown(), full::describe);
            assertEquals(DIVES, full.dives().size(), full::describe);
        }

        int[] keptDives = new int[DIVES + 1];
        ExecutorService downloader = Executors.newSingleThreadExecutor(Stress::daemon);
        ScheduledExecutorService interrupter =
            Executors.newSingleThreadScheduledExecutor(Stress::daemon);
        try {
            for (int run = 1; run <= downloads; run++) {
                // Up to a fifth past the end of a whole download, so that some interruptions
                // come too late and the download must stay whole.
                long delay = (long) (random.nextDouble() * fullNanos * 1.2);
                Future<Download> download = downloader.submit(
                    () -> Download.run(PORT, Stress.VENDOR, Stress.PRODUCT));
                ScheduledFuture<?> interruption =
                    interrupter.schedule(Download::interrupt, delay, TimeUnit.NANOSECONDS);
                Download result = download.get(TIMEOUT_SECONDS, TimeUnit.SECONDS);
                // The next download must not meet this interruption.
                interruption.get(TIMEOUT_SECONDS, TimeUnit.SECONDS);

                String context = "download " + run + " interrupted after " + delay / 1000
                                 + " us (seed " + seed + "): " + result.describe();
                assertNull(result.thrown(), context);
                assertEquals(full.device(), result.device(), context);
                int kept = result.dives().size();
                assertEquals(full.dives().subList(0, kept), result.dives(), context);
                assertEquals(0, DcSim.liveTotal(), () -> context + ", " + DcSim.liveSummary());
                keptDives[kept]++;
            }
        } finally {
            downloader.shutdownNow();
            interrupter.shutdownNow();
        }
        System.out.println("dives kept (0.." + DIVES + "): " + Arrays.toString(keptDives));
        assertTrue(keptDives[DIVES] < downloads, "no download was ever cut short");
    }
}
