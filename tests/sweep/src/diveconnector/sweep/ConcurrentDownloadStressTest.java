package diveconnector.sweep;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import diveconnector.testing.DcSim;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Two downloads from two dive computers on two threads at once, repeated (-Dstress.rounds): each
 * must give exactly what a download of its computer alone gives.
 */
class ConcurrentDownloadStressTest {
    private static final String LEFT_PORT = "stress:left";
    private static final String RIGHT_PORT = "stress:right";
    private static final int DIVES = 8;
    private static final String LEFT_COMPUTER =
        "devinfo 0x31 0x0101 510001\nserial " + LEFT_PORT + "\ntransfer 3 3\n"
        + "generate " + DIVES + " samples=120 start=2023-05-01T07:00:00 oxygen=32\n";
    private static final String RIGHT_COMPUTER =
        "devinfo 0x32 0x0102 510002\nserial " + RIGHT_PORT + "\ntransfer 3 3\n"
        + "generate " + DIVES + " samples=90 interval=20 start=2023-09-10T10:00:00 tanks=2"
        + " oxygen=28 depth=35 temperature=26:14\n";
    private static final long TIMEOUT_SECONDS = 60;

    private record Timed(Download download, long start, long end) {}

    @Test
    void eachOfTwoSimultaneousDownloadsGivesItsOwnComputersDives() throws Exception {
        int rounds = Stress.count("rounds", 5);
        DcSim.reset();
        DcSim.attach(LEFT_COMPUTER);
        DcSim.attach(RIGHT_COMPUTER);
        Download left = Download.run(LEFT_PORT, Stress.VENDOR, Stress.PRODUCT);
        Download right = Download.run(RIGHT_PORT, Stress.VENDOR, Stress.PRODUCT);
        assertNull(left.thrown(), left::describe);
        assertNull(right.thrown(), right::describe);
        assertEquals(DIVES, left.dives().size(), left::describe);
        assertEquals(DIVES, right.dives().size(), right::describe);
        assertNotEquals(left.dives(), right.dives());

        ExecutorService pool = Executors.newFixedThreadPool(2, Stress::daemon);
        int overlapping = 0;
        try {
            for (int round = 1; round <= rounds; round++) {
                CyclicBarrier together = new CyclicBarrier(2);
                Future<Timed> leftRun = pool.submit(() -> timed(together, LEFT_PORT));
                Future<Timed> rightRun = pool.submit(() -> timed(together, RIGHT_PORT));
                Timed leftResult = leftRun.get(TIMEOUT_SECONDS, TimeUnit.SECONDS);
                Timed rightResult = rightRun.get(TIMEOUT_SECONDS, TimeUnit.SECONDS);
                String context = "round " + round + ": ";
                assertEquals(left, leftResult.download(),
                             () -> context + leftResult.download().describe());
                assertEquals(right, rightResult.download(),
                             () -> context + rightResult.download().describe());
                assertEquals(0, DcSim.liveTotal(), () -> context + DcSim.liveSummary());
                if (leftResult.start() < rightResult.end()
                    && rightResult.start() < leftResult.end()) {
                    overlapping++;
                }
            }
        } finally {
            pool.shutdownNow();
        }
        System.out.println("concurrent downloads: " + rounds + " rounds, " + overlapping
                           + " overlapping");
        assertTrue(overlapping > 0, "the two downloads never ran at the same time");
    }

    private static Timed timed(CyclicBarrier together, String port) throws Exception {
        together.await(TIMEOUT_SECONDS, TimeUnit.SECONDS);
        long start = System.nanoTime();
        Download download = Download.run(port, Stress.VENDOR, Stress.PRODUCT);
        return new Timed(download, start, System.nanoTime());
    }
}
