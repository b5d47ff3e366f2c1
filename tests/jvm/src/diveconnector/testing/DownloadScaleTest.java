package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/** Downloads of many samples, each in a child JVM under -Xcheck:jni. */
class DownloadScaleTest {
    // Resident memory may still settle (code cache, allocator) after the first rounds; a leak of
    // one round's dive records alone would add several MB a round.
    private static final int SETTLING_ROUNDS = 3;
    private static final long RESIDENT_GROWTH_LIMIT_KB = 16 * 1024;
    private static final long HEAP_GROWTH_LIMIT_KB = 4 * 1024;

    private static ChildProcess probe(List<String> jvmOptions, String mode) throws Exception {
        List<Path> classPath = List.of(
            TestEnvironment.path("diveconnector.java.jar"),
            TestEnvironment.classesOf(ScaleProbe.class));
        ChildProcess child =
            ChildProcess
                .run(TestEnvironment.childJvm(jvmOptions, classPath, ScaleProbe.class.getName(),
                                              mode),
                     Map.of())
                .assertClean(0);
        assertEquals("", child.stderr(), child::toString);
        return child;
    }

    private static List<String[]> lines(ChildProcess child, String prefix) {
        List<String[]> lines = new ArrayList<>();
        for (String line : child.stdout().split("\n")) {
            if (line.startsWith(prefix + "\t")) {
                lines.add(line.split("\t"));
            }
        }
        return lines;
    }

    // Thousands of dives and millions of samples need no more local references at a time than a
    // few dives do: -Xcheck:jni would report it (assertClean).
    @Test
    void thousandsOfLongDivesKeepLocalReferencesBounded() throws Exception {
        ChildProcess child = probe(List.of("-Xmx4g"), "large");

        List<String[]> summary = lines(child, "large");
        assertEquals(1, summary.size(), child::toString);
        String[] fields = summary.get(0);
        assertEquals(String.valueOf(ScaleProbe.LARGE_DIVES), fields[1], "dives");
        assertEquals(String.valueOf(ScaleProbe.LARGE_SAMPLES), fields[2], "fewest samples");
        assertEquals(String.valueOf(ScaleProbe.LARGE_SAMPLES), fields[3], "most samples");
        assertEquals("0", fields[4], "every sample has time, depth, pressure and temperature");
        assertEquals("0", fields[5], "live dcsim handles");
    }

    @Test
    void memoryStaysFlatOverRepeatedDownloads() throws Exception {
        // A heap of fixed size, touched up front, keeps the Java heap out of the resident size.
        ChildProcess child =
            probe(List.of("-Xms256m", "-Xmx256m", "-XX:+AlwaysPreTouch"), "repeat");

        List<String[]> rounds = lines(child, "round");
        assertEquals(ScaleProbe.ROUNDS, rounds.size(), child::toString);
        for (String[] round : rounds) {
            assertEquals(String.valueOf(ScaleProbe.ROUND_DIVES), round[2], child::toString);
            assertEquals("0", round[5], "live dcsim handles");
        }
        String[] settled = rounds.get(SETTLING_ROUNDS - 1);
        String[] last = rounds.get(rounds.size() - 1);
        long residentGrowth = Long.parseLong(last[3]) - Long.parseLong(settled[3]);
        long heapGrowth = Long.parseLong(last[4]) - Long.parseLong(settled[4]);
        assertTrue(residentGrowth < RESIDENT_GROWTH_LIMIT_KB,
                   () -> "resident memory grew by " + residentGrowth + " kB\n" + child);
        assertTrue(heapGrowth < HEAP_GROWTH_LIMIT_KB,
                   () -> "heap in use grew by " + heapGrowth + " kB\n" + child);
    }
}
